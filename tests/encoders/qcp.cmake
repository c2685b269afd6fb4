# Stand-ins for qscl.so as a damaged installation may hold it: without the entry point, with an
# entry point that gives no converter, with a converter that fails.
foreach(kind broken null failing)
  add_library(qscl_stub_${kind} MODULE ${CMAKE_CURRENT_LIST_DIR}/qscl_stub.cpp)
  target_include_directories(qscl_stub_${kind} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(qscl_stub_${kind} PRIVATE QSCL_STUB_${kind})
  set_target_properties(qscl_stub_${kind} PROPERTIES PREFIX "" OUTPUT_NAME qscl
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/qscl-stubs/${kind})
endforeach()

tolvane_test(test_qcp_encoder SOURCES ${CMAKE_CURRENT_LIST_DIR}/qcp_encoder_test.cpp)
add_dependencies(test_qcp_encoder qscl qscl_stub_broken qscl_stub_null qscl_stub_failing)
target_compile_definitions(test_qcp_encoder PRIVATE
  QSCL_STUBS_DIR="${CMAKE_BINARY_DIR}/tests/qscl-stubs")

# QCP ringtones end to end through the batch front end, once it is part of the build.
if(TARGET tolvane-convert)
  tolvane_test(test_qcp_convert SOURCES ${CMAKE_CURRENT_LIST_DIR}/qcp_convert_test.cpp)
  add_dependencies(test_qcp_convert tolvane-convert qscl)
endif()
