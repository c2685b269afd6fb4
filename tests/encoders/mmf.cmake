tolvane_test(test_mmf_encoder SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/mmf_encoder_test.cpp
)
add_dependencies(test_mmf_encoder kessin)
