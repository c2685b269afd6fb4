# The iPhone (M4R) and Android (Ogg) ringtones, made by the real tolvane-convert and read back
# by ffprobe and ffmpeg.
tolvane_test(test_m4r_ogg_encoders SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/encoder_fixtures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/m4r_ogg_encoder_test.cpp
  TIMEOUT 600)
add_dependencies(test_m4r_ogg_encoders tolvane-convert machine_hive)
