# MP3 and AMR ringtones made by tolvane-convert, end to end; also from a relocated copy of the
# program whose application folder lacks lame_enc.so or holds a broken one.
tolvane_test(test_convert_mp3_amr SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/mp3_amr_convert_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../encoders/encoder_fixtures.cpp)
add_dependencies(test_convert_mp3_amr tolvane-convert tolvane-hive lame_enc lame_enc_broken
                 machine_hive)
target_compile_definitions(test_convert_mp3_amr PRIVATE
  BROKEN_LAME_ENC_DIR="${CMAKE_BINARY_DIR}/tests/broken-lame-enc")
