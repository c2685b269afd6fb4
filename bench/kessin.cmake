# The SMAF benchmark drives the real kessin and measures kessin's own work through kessin_core.
target_link_libraries(bench_smaf PRIVATE kessin_core)
add_dependencies(bench_smaf kessin)
