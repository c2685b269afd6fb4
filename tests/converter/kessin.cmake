tolvane_test(test_kessin_core SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/audio_input_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/smaf_writer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rate_converter_test.cpp
  LIBS kessin_core
)
# Drives the real kessin program; it must be built first.
tolvane_test(test_kessin_protocol SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/kessin_protocol_test.cpp
)
add_dependencies(test_kessin_protocol kessin)
