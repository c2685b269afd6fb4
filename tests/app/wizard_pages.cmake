# The wizard's delivery pages driven offscreen against our real skyletd.
if(TARGET tolvane_wizard)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  tolvane_test(test_wizard_delivery SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/wizard_pages_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/app/qt_wizard_fixture.cpp
    LIBS tolvane_wizard tolvane_local_servers Qt6::Test
    TIMEOUT 300)
  set_target_properties(test_wizard_delivery PROPERTIES AUTOMOC ON)
  target_include_directories(test_wizard_delivery PRIVATE ${CMAKE_SOURCE_DIR}/tests/app
                             ${CMAKE_SOURCE_DIR}/tests/delivery)
  add_dependencies(test_wizard_delivery skyletd tolvane_help machine_hive)
endif()
