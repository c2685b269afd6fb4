find_package(Poco REQUIRED COMPONENTS XML)
add_library(tolvane_postgres_server STATIC ${CMAKE_CURRENT_LIST_DIR}/postgres_server.cpp)
target_link_libraries(tolvane_postgres_server PUBLIC tolvane_test_support Poco::Net GTest::gtest)

tolvane_test(test_skyletd SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/skyletd_test.cpp
  LIBS tolvane_local_servers tolvane_postgres_server Poco::XML
  TIMEOUT 300)
add_dependencies(test_skyletd skyletd)

tolvane_test(test_skylet_storage SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/storage_test.cpp
  LIBS skylet_store tolvane_postgres_server
  TIMEOUT 300)
