# skyletd's request parsing, built from the service's own sources (the service is a program, not
# a library). The test tree includes every tests/*/*.cmake; this fragment only means something
# in the fuzz build.
if(NOT COMMAND tolvane_fuzzer)
  return()
endif()
find_package(Poco REQUIRED COMPONENTS Foundation Net)
tolvane_fuzzer(fuzz_skyletd_request ${CMAKE_CURRENT_LIST_DIR}/skyletd_request_fuzz.cpp
               ${PROJECT_SOURCE_DIR}/server/request_parsing.cpp
               ${PROJECT_SOURCE_DIR}/server/account_store.cpp)
target_include_directories(fuzz_skyletd_request PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(fuzz_skyletd_request PRIVATE tolvane_core Poco::Net Poco::Foundation)
