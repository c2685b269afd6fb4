find_package(Poco REQUIRED COMPONENTS XML)
tolvane_test(test_skyletd SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/skyletd_test.cpp
  LIBS tolvane_local_servers Poco::XML
  TIMEOUT 120)
add_dependencies(test_skyletd skyletd)
