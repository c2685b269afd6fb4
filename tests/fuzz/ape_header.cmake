# fuzz_ape_header: the Monkey's Audio decompressor over its own source (ffmpeg_codecs.so is loaded
# at run time by the programs, so the fuzzer builds it in). The test tree includes every
# tests/*/*.cmake as well; only the fuzz build defines the helper.
if(NOT COMMAND tolvane_fuzzer)
  return()
endif()
tolvane_fuzzer(fuzz_ape_header ${CMAKE_CURRENT_LIST_DIR}/ape_header_fuzz.cpp
               ${CMAKE_SOURCE_DIR}/plugins/ffmpeg_codecs/ape_decompressor.cpp)
target_include_directories(fuzz_ape_header PRIVATE ${CMAKE_SOURCE_DIR})
pkg_check_modules(FUZZ_APE_FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_link_libraries(fuzz_ape_header PRIVATE tolvane_core PkgConfig::FUZZ_APE_FFMPEG)
