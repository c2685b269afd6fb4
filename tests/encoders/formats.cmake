# The format table and the encoder factory over it.
tolvane_test(test_ringtone_formats SOURCES ${CMAKE_CURRENT_LIST_DIR}/ringtone_formats_test.cpp)
