tolvane_test(test_spill_cli SOURCES ${CMAKE_CURRENT_LIST_DIR}/spill_test.cpp)
add_dependencies(test_spill_cli tolvane-convert)
