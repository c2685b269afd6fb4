# The Format page and the unlisted-phone report dialog, driven offscreen.
if(TARGET tolvane_wizard)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  tolvane_test(test_wizard_format SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/wizard_format_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/app/qt_wizard_fixture.cpp
    LIBS tolvane_wizard tolvane_local_servers Qt6::Test
    TIMEOUT 120)
  set_target_properties(test_wizard_format PROPERTIES AUTOMOC ON)
  target_include_directories(test_wizard_format PRIVATE ${CMAKE_SOURCE_DIR}/tests/app
                             ${CMAKE_SOURCE_DIR}/tests/delivery)
endif()
