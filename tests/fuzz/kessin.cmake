# kessin's input analysis links kessin_core only (kessin does not use the core library).
# The test tree includes every tests/*/*.cmake; this fragment only means something in the fuzz
# build.
if(NOT COMMAND tolvane_fuzzer)
  return()
endif()
tolvane_fuzzer(fuzz_kessin_analyse ${CMAKE_CURRENT_LIST_DIR}/kessin_analyse_fuzz.cpp)
target_link_libraries(fuzz_kessin_analyse PRIVATE kessin_core)
