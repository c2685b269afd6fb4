tolvane_test(test_settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_test.cpp)
