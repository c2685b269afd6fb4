tolvane_test(test_window_bus SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/window_bus_test.cpp
)
