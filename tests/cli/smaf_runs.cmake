tolvane_test(test_smaf_runs SOURCES ${CMAKE_CURRENT_LIST_DIR}/smaf_runs_test.cpp)
add_dependencies(test_smaf_runs tolvane-convert kessin)
