# The Files page's marker, offscreen, with a scripted player and with the real one on SDL's dummy
# driver.
if(TARGET tolvane_wizard)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  tolvane_test(test_marker_page SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/marker_page_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/part_editor_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/app/qt_wizard_fixture.cpp
    LIBS tolvane_wizard Qt6::Test
    TIMEOUT 120)
  set_target_properties(test_marker_page PROPERTIES AUTOMOC ON)
  target_include_directories(test_marker_page PRIVATE ${CMAKE_SOURCE_DIR}/tests/sources
                             ${CMAKE_SOURCE_DIR}/tests/app)
  add_dependencies(test_marker_page tolvane_help machine_hive)
endif()
