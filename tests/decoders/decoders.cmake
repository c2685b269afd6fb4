tolvane_test(test_decoders SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/decoder_fixtures.cpp
  ${CMAKE_CURRENT_LIST_DIR}/compressed_readers_test.cpp
)
add_dependencies(test_decoders wmvcore)
