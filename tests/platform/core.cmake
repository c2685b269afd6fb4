tolvane_test(test_platform SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/utf16_test.cpp
)
