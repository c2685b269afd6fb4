find_package(Poco REQUIRED COMPONENTS JSON Net Data DataSQLite)

add_library(tolvane_local_servers STATIC ${CMAKE_CURRENT_LIST_DIR}/local_servers.cpp)
target_link_libraries(tolvane_local_servers PUBLIC tolvane_test_support Poco::JSON Poco::Net
                      Poco::Data Poco::DataSQLite)

tolvane_test(test_delivery SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/carriers_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/skylet_client_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mail_delivery_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sending_phase_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/account_tasks_test.cpp
  LIBS tolvane_local_servers
  TIMEOUT 120)
add_dependencies(test_delivery skyletd)
