tolvane_test(test_kessin_core SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/audio_input_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/smaf_writer_test.cpp
  LIBS kessin_core
)
