tolvane_test(test_file_adding SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_adding_test.cpp)
