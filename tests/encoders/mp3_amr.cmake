# The MP3 and AMR ringtone encoders, read back by ffmpeg/ffprobe.
tolvane_test(test_mp3_amr_encoders SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/encoder_fixtures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mp3_encoder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/amr_encoder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ringtone_failures_test.cpp)
# The real lame_enc.so in the application folder, stand-ins that are broken or misbehave, and the
# machine hive that names the application folder.
add_dependencies(test_mp3_amr_encoders lame_enc lame_enc_broken lame_enc_failing
                 lame_enc_oversized machine_hive)
target_compile_definitions(test_mp3_amr_encoders PRIVATE
  BROKEN_LAME_ENC_DIR="${CMAKE_BINARY_DIR}/tests/broken-lame-enc"
  FAILING_LAME_ENC_DIR="${CMAKE_BINARY_DIR}/tests/failing-lame-enc"
  OVERSIZED_LAME_ENC_DIR="${CMAKE_BINARY_DIR}/tests/oversized-lame-enc")
