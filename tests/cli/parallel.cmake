tolvane_test(test_parallel_convert SOURCES ${CMAKE_CURRENT_LIST_DIR}/parallel_convert_test.cpp
             TIMEOUT 600)
add_dependencies(test_parallel_convert tolvane-convert kessin)
