# qscl.so's converter on arbitrary input files (the module's source is built into the fuzzer).
# The test tree includes every tests/*/*.cmake as well; only the fuzz build defines the helper.
if(NOT COMMAND tolvane_fuzzer)
  return()
endif()
tolvane_fuzzer(fuzz_qscl_converter ${CMAKE_CURRENT_LIST_DIR}/qscl_fuzz.cpp
               ${CMAKE_SOURCE_DIR}/plugins/qscl/qscl_module.cpp)
target_include_directories(fuzz_qscl_converter PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(fuzz_qscl_converter PRIVATE qcelp13k)
