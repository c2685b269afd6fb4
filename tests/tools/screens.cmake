# tolvane-screens OUTDIR: every page of the wizard, its question and message boxes rendered
# offscreen into PNG files named after the page class.
if(TARGET tolvane_wizard)
  add_executable(tolvane-screens ${CMAKE_CURRENT_LIST_DIR}/screens_tool.cpp)
  target_link_libraries(tolvane-screens PRIVATE tolvane_wizard)
  set_target_properties(tolvane-screens PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endif()
