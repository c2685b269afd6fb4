# fuzz_lame_enc also needs the library's own source and libmp3lame. The tests' fragment glob
# includes this file too, where no fuzz target exists.
if(NOT TARGET fuzz_lame_enc)
  return()
endif()
pkg_check_modules(FUZZ_LAME REQUIRED IMPORTED_TARGET lame)
target_sources(fuzz_lame_enc PRIVATE ${CMAKE_SOURCE_DIR}/plugins/lame_enc/lame_enc.cpp)
target_link_libraries(fuzz_lame_enc PRIVATE PkgConfig::FUZZ_LAME)
