# Helpers shared by the folders' CMakeLists.

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
# SkyletURL the local reference service. `make install` writes the installed one.
function(tolvane_write_machine_hive)
  add_custom_target(machine_hive ALL
    COMMAND tolvane-hive --root ${CMAKE_BINARY_DIR}/etc/tolvane/registry
            --set AppPath=${TOLVANE_APP_DIR}
            --set HomeURL=http://127.0.0.1:8099/
            --set SkyletURL=http://127.0.0.1:8099/
    DEPENDS tolvane-hive
    COMMENT "Writing the build tree's machine hive")
  install(CODE "
    set(prefix \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    execute_process(COMMAND ${TOLVANE_LIBEXEC_DIR}/tolvane-hive
      --root \"\${prefix}/etc/tolvane/registry\"
      --set \"AppPath=\${prefix}/${CMAKE_INSTALL_LIBDIR}/tolvane\"
      --set \"HomeURL=http://127.0.0.1:8099/\"
      --set \"SkyletURL=http://127.0.0.1:8099/\"
      COMMAND_ERROR_IS_FATAL ANY)")
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
