tolvane_test(test_decoders SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/decoder_fixtures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/compressed_readers_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ape_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wma_reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bad_input_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/absurd_header_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mp3_delay_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decoding_pipe_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/conversion_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wma_runtime_errors_test.cpp
)
add_dependencies(test_decoders wmvcore machine_hive)
if(TARGET tolvane-convert)
  add_dependencies(test_decoders tolvane-convert)
endif()
