tolvane_test(test_convert_cli SOURCES ${CMAKE_CURRENT_LIST_DIR}/convert_test.cpp)
add_dependencies(test_convert_cli tolvane-convert)
