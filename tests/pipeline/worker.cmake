tolvane_test(test_worker SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/job_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/worker_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decode_once_test.cpp
)
