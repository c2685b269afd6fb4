tolvane_test(test_convert_send SOURCES ${CMAKE_CURRENT_LIST_DIR}/send_test.cpp
  LIBS tolvane_local_servers
  TIMEOUT 180)
add_dependencies(test_convert_send tolvane-convert sending skyletd tolvane-hive)
