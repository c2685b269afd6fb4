tolvane_test(test_convert_cli SOURCES ${CMAKE_CURRENT_LIST_DIR}/convert_test.cpp)
add_dependencies(test_convert_cli tolvane-convert)
tolvane_test(test_fade_convert SOURCES ${CMAKE_CURRENT_LIST_DIR}/fade_convert_test.cpp)
add_dependencies(test_fade_convert tolvane-convert)
