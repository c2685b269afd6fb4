tolvane_test(test_qscl SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/qcelp_frame_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qscl_converter_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qcelp_quality_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qcelp_decoder_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/speech_quality.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qscl_support.cpp
  LIBS qcelp13k
)
add_dependencies(test_qscl qscl)
