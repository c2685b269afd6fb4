# What the programs load at start-up, and an installation whose application folder lacks
# ffmpeg_codecs.so.
tolvane_test(test_convert_start_up SOURCES ${CMAKE_CURRENT_LIST_DIR}/start_up_test.cpp)
add_dependencies(test_convert_start_up tolvane-convert tolvane-hive kessin)
