# The wizard program `tolvane` (Qt 6 Widgets). Its page classes live in the folder of their
# subsystem, in files named after the class (Wiz*.cpp, *Dlg.cpp, Qt*.cpp); the core's source
# lists leave those out and this file gathers them into `tolvane_wizard`, which the program, the
# screenshot tool and the page tests link.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

set(TOLVANE_RESOURCE_DIR ${CMAKE_SOURCE_DIR}/resources)
set(picture_dir ${CMAKE_BINARY_DIR}/resources/pictures)

# Pictures are painted at build time by our own tool; none comes from elsewhere.
add_executable(tolvane-paint-pictures ${TOLVANE_RESOURCE_DIR}/paint_pictures.cpp)
target_link_libraries(tolvane-paint-pictures PRIVATE Qt6::Gui)
set_target_properties(tolvane-paint-pictures PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

set(picture_names watermark header tolvane format store send uploads add remove selectall mark
    mark_start mark_end position)
foreach(i RANGE 0 15)
  string(LENGTH "${i}" digits)
  if(digits EQUAL 1)
    set(i "0${i}")
  endif()
  list(APPEND picture_names progress_convert_${i} progress_send_${i})
  if(i LESS 12)
    list(APPEND picture_names indicator_${i})
  endif()
endforeach()

set(picture_files "")
set(qrc_text "<RCC>\n  <qresource prefix=\"/pictures\">\n")
foreach(name ${picture_names})
  list(APPEND picture_files ${picture_dir}/${name}.png)
  string(APPEND qrc_text "    <file alias=\"${name}.png\">${picture_dir}/${name}.png</file>\n")
endforeach()
string(APPEND qrc_text "  </qresource>\n</RCC>\n")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/resources/pictures.qrc CONTENT "${qrc_text}")

add_custom_command(
  OUTPUT ${picture_files}
  COMMAND tolvane-paint-pictures ${picture_dir}
  DEPENDS tolvane-paint-pictures
  COMMENT "Painting the wizard's pictures")
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/resources/qrc_pictures.cpp
  COMMAND Qt6::rcc --name pictures --output ${CMAKE_BINARY_DIR}/resources/qrc_pictures.cpp
          ${CMAKE_BINARY_DIR}/resources/pictures.qrc
  DEPENDS ${picture_files} ${CMAKE_BINARY_DIR}/resources/pictures.qrc
  COMMENT "Embedding the wizard's pictures")

# The Qt page classes of every subsystem.
file(GLOB wizard_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/Wiz*.cpp ${CMAKE_SOURCE_DIR}/app/Qt*.cpp
  ${CMAKE_SOURCE_DIR}/app/*Dlg.cpp
  ${CMAKE_SOURCE_DIR}/catalogue/Wiz*.cpp ${CMAKE_SOURCE_DIR}/catalogue/Qt*.cpp
  ${CMAKE_SOURCE_DIR}/catalogue/*Dlg.cpp
  ${CMAKE_SOURCE_DIR}/delivery/Wiz*.cpp ${CMAKE_SOURCE_DIR}/delivery/Qt*.cpp
  ${CMAKE_SOURCE_DIR}/delivery/*Dlg.cpp
  ${CMAKE_SOURCE_DIR}/pages/Wiz*.cpp ${CMAKE_SOURCE_DIR}/pages/Qt*.cpp
  ${CMAKE_SOURCE_DIR}/pages/*Dlg.cpp)

add_library(tolvane_wizard STATIC ${wizard_sources} ${CMAKE_BINARY_DIR}/resources/qrc_pictures.cpp)
set_target_properties(tolvane_wizard PROPERTIES AUTOMOC ON)
target_link_libraries(tolvane_wizard PUBLIC tolvane_core Qt6::Widgets)

tolvane_program(tolvane ${CMAKE_SOURCE_DIR}/app/main.cpp)
target_link_libraries(tolvane PRIVATE tolvane_wizard)

# The help page lives in the application folder, beside the run-time libraries.
add_custom_command(
  OUTPUT ${TOLVANE_APP_DIR}/tolvanehelp.html
  COMMAND ${CMAKE_COMMAND} -E copy ${TOLVANE_RESOURCE_DIR}/tolvanehelp.html
          ${TOLVANE_APP_DIR}/tolvanehelp.html
  DEPENDS ${TOLVANE_RESOURCE_DIR}/tolvanehelp.html
  COMMENT "Copying the help page into the application folder")
add_custom_target(tolvane_help ALL DEPENDS ${TOLVANE_APP_DIR}/tolvanehelp.html)
add_dependencies(tolvane tolvane_help)

install(FILES ${TOLVANE_RESOURCE_DIR}/tolvanehelp.html DESTINATION ${CMAKE_INSTALL_LIBDIR}/tolvane)
# The desktop's menu entry, naming the program where it is installed (the prefix is known only at
# install time: `cmake --install --prefix` may differ from the configured one), readable by every
# user whatever the checkout's modes, and its icon.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(TOLVANE_EXEC \"\${prefix}/${CMAKE_INSTALL_BINDIR}/tolvane\")
  configure_file(${TOLVANE_RESOURCE_DIR}/tolvane.desktop.in
                 \"\$ENV{DESTDIR}\${prefix}/${CMAKE_INSTALL_DATADIR}/applications/tolvane.desktop\"
                 @ONLY NO_SOURCE_PERMISSIONS)
  message(STATUS \"Installing: \$ENV{DESTDIR}\${prefix}/${CMAKE_INSTALL_DATADIR}/applications/tolvane.desktop\")")
install(FILES ${picture_dir}/tolvane.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
