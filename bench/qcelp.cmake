# The QCELP-13K encoder on its own (links the codec library, not the core).
add_executable(bench_qcelp ${CMAKE_CURRENT_LIST_DIR}/qcelp_bench.cpp)
target_link_libraries(bench_qcelp PRIVATE qcelp13k benchmark::benchmark)
set_target_properties(bench_qcelp PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
