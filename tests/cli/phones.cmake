tolvane_test(test_convert_phones SOURCES ${CMAKE_CURRENT_LIST_DIR}/phones_test.cpp)
add_dependencies(test_convert_phones tolvane-convert)
