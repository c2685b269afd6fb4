# The part marker's rules with a scripted player (no display, no sound).
tolvane_test(test_part_marker SOURCES ${CMAKE_CURRENT_LIST_DIR}/part_marker_test.cpp)
target_include_directories(test_part_marker PRIVATE ${CMAKE_CURRENT_LIST_DIR})
