# fuzz_wma_header: the WMA reader over the runtime's own source (wmvcore.so is loaded at run time
# by the program, so the fuzzer builds it in). The test tree includes every tests/*/*.cmake as
# well; only the fuzz build defines the helper.
if(NOT COMMAND tolvane_fuzzer)
  return()
endif()
tolvane_fuzzer(fuzz_wma_header ${CMAKE_CURRENT_LIST_DIR}/wma_header_fuzz.cpp
               ${CMAKE_SOURCE_DIR}/plugins/wmvcore/wmvcore.cpp)
target_include_directories(fuzz_wma_header PRIVATE ${CMAKE_SOURCE_DIR})
pkg_check_modules(FUZZ_WMVCORE_FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil
                  libswresample)
target_link_libraries(fuzz_wma_header PRIVATE tolvane_core PkgConfig::FUZZ_WMVCORE_FFMPEG)
