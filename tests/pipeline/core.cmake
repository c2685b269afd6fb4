tolvane_test(test_pipeline SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/reader_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/encoder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resampling_filter_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/normalizer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fade_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pcm_store_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/read_ahead_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress_text_test.cpp
)
