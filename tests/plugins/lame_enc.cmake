# lame_enc.so through its four entry points, loaded with dlopen as the MP3 encoder loads it.
tolvane_test(test_lame_enc SOURCES ${CMAKE_CURRENT_LIST_DIR}/lame_enc_test.cpp)
add_dependencies(test_lame_enc lame_enc)

# A stand-in lame_enc.so that lacks beCloseStream, for the tests of a broken library. It sits in a
# folder of its own under the build's tests folder.
add_library(lame_enc_without_close MODULE ${CMAKE_CURRENT_LIST_DIR}/lame_enc_without_close.cpp)
set_target_properties(lame_enc_without_close PROPERTIES
  PREFIX "" OUTPUT_NAME lame_enc
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/broken-lame-enc)

# Stand-ins with all four entry points that misbehave: failing chunks, or oversized chunks.
foreach(variant failing oversized)
  add_library(lame_enc_${variant} MODULE ${CMAKE_CURRENT_LIST_DIR}/lame_enc_misbehaving.cpp)
  set_target_properties(lame_enc_${variant} PROPERTIES
    PREFIX "" OUTPUT_NAME lame_enc
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/${variant}-lame-enc)
endforeach()
target_compile_definitions(lame_enc_oversized PRIVATE OVERSIZED_CHUNK)
