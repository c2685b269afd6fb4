# The wizard's start-up time and its responsiveness during a conversion (bench/bench_wizard).
if(TARGET tolvane_wizard)
  add_executable(bench_wizard ${CMAKE_CURRENT_LIST_DIR}/wizard_timing.cpp)
  target_link_libraries(bench_wizard PRIVATE tolvane_wizard)
  set_target_properties(bench_wizard PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
