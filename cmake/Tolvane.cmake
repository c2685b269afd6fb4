# Helpers shared by the folders' CMakeLists.

# Every user of an installed copy runs its programs and reads its libraries, help page and
# machine settings, so the folders the install makes are 0755 whatever the installing user's
# umask; install() gives files and programs 0644/0755 itself. This rule is declared before any
# folder's own, so it runs first.
install(CODE "
  set(TOLVANE_SHARED_FOLDERS
      ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_LIBDIR}/tolvane ${CMAKE_INSTALL_LIBEXECDIR}/tolvane
      ${CMAKE_INSTALL_DATADIR}/applications ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
      etc/tolvane/registry)
  include(\"${CMAKE_CURRENT_LIST_DIR}/MakeSharedFolders.cmake\")")

# A library loaded at run time with dlopen from the application folder (lame_enc.so, qscl.so, ...).
function(tolvane_runtime_library target)
  add_library(${target} MODULE ${ARGN})
  set_target_properties(${target} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${TOLVANE_APP_DIR})
  install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tolvane)
endfunction()

# A program users start (tolvane, tolvane-convert, skyletd).
function(tolvane_program target)
  add_executable(${target} ${ARGN})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TOLVANE_BIN_DIR})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# A helper program started by the wizard, found in the system directory (kessin).
function(tolvane_helper_program target)
  add_executable(${target} ${ARGN})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TOLVANE_LIBEXEC_DIR})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tolvane)
endfunction()

# The build tree's machine hive: AppPath names the build's application folder, HomeURL and
# SkyletURL the local reference service. `make install` writes the installed one and installs
# the hive tool beside the converter, so an administrator can point SkyletURL elsewhere. The
# hive tool writes folders 0755 and values 0644 itself; the installer also opens up what an
# earlier install left private, so reinstalling mends it.
function(tolvane_write_machine_hive)
  add_custom_target(machine_hive ALL
    COMMAND tolvane-hive --root ${CMAKE_BINARY_DIR}/etc/tolvane/registry
            --set AppPath=${TOLVANE_APP_DIR}
            --set HomeURL=http://127.0.0.1:8099/
            --set SkyletURL=http://127.0.0.1:8099/
    DEPENDS tolvane-hive
    COMMENT "Writing the build tree's machine hive")
  # The hive is written below DESTDIR (a package's staging folder); AppPath names the folder
  # the programs will run from, without it.
  install(CODE "
    set(prefix \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    execute_process(COMMAND ${TOLVANE_LIBEXEC_DIR}/tolvane-hive
      --root \"\${prefix}/etc/tolvane/registry\"
      --set \"AppPath=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/tolvane\"
      --set \"HomeURL=http://127.0.0.1:8099/\"
      --set \"SkyletURL=http://127.0.0.1:8099/\"
      COMMAND_ERROR_IS_FATAL ANY)
    file(CHMOD_RECURSE \"\${prefix}/etc/tolvane\"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
      DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                            WORLD_READ WORLD_EXECUTE)")
  install(TARGETS tolvane-hive RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tolvane)
endfunction()

# A GoogleTest program registered with CTest. Usage:
#   tolvane_test(name SOURCES a.cpp b.cpp [LIBS extra...] [LABELS ...])
function(tolvane_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE tolvane_core tolvane_test_support GTest::gtest
                        ${T_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
endfunction()

# Adds a folder's Qt-free sources to tolvane_core: every *.cpp of the folder except the wizard's
# Qt files, which are named after their classes (Wiz*.cpp, Qt*.cpp, *Dlg.cpp) or main.cpp, and
# except *_tool.cpp programs. The wizard target picks up the Qt files itself.
function(tolvane_core_sources_from_folder)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/(Wiz[^/]*|Qt[^/]*|[^/]*Dlg|main|[^/]*_tool)\\.cpp$")
  if(sources)
    target_sources(tolvane_core PRIVATE ${sources})
  endif()
endfunction()
