# The wizard's flow rules (no display) and the wizard driven offscreen as a user drives it.
tolvane_test(test_wizard_flow SOURCES ${CMAKE_CURRENT_LIST_DIR}/wizard_flow_test.cpp
             LIBS tolvane_wizard_flow)
if(TARGET tolvane_wizard)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  tolvane_test(test_wizard SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/wizard_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/access_keys_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/keyboard_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_wizard_fixture.cpp
    LIBS tolvane_wizard Qt6::Test
    TIMEOUT 300)
  set_target_properties(test_wizard PROPERTIES AUTOMOC ON)
  target_include_directories(test_wizard PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  add_dependencies(test_wizard tolvane_help machine_hive)
endif()
