tolvane_test(test_mmf_encoder SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/mmf_encoder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mmf_cli_test.cpp
  LIBS kessin_core
)
add_dependencies(test_mmf_encoder kessin)
if(TARGET tolvane-convert)
  add_dependencies(test_mmf_encoder tolvane-convert)
endif()
