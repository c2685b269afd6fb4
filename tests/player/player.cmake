tolvane_test(test_player SOURCES ${CMAKE_CURRENT_LIST_DIR}/player_test.cpp TIMEOUT 60)
