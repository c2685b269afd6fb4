tolvane_test(test_file_adding SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_adding_test.cpp)
tolvane_test(test_peak_scan SOURCES ${CMAKE_CURRENT_LIST_DIR}/peak_scan_test.cpp)
