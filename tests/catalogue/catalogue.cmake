tolvane_test(test_catalogue SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/catalogue_data_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/format_choice_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/phone_selection_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/phone_report_test.cpp
  TIMEOUT 120
)
