# lame_enc.so through its four entry points, loaded with dlopen as the MP3 encoder loads it.
tolvane_test(test_lame_enc SOURCES ${CMAKE_CURRENT_LIST_DIR}/lame_enc_test.cpp)
add_dependencies(test_lame_enc lame_enc)

# Stand-in lame_enc.so files for the tests of a bad library, each in a folder of its own under
# the build's tests folder: <variant>-lame-enc/lame_enc.so.
foreach(variant broken failing oversized)
  add_library(lame_enc_${variant} MODULE ${CMAKE_CURRENT_LIST_DIR}/lame_enc_standin.cpp)
  set_target_properties(lame_enc_${variant} PROPERTIES
    PREFIX "" OUTPUT_NAME lame_enc
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/${variant}-lame-enc)
endforeach()
target_compile_definitions(lame_enc_broken PRIVATE MISSING_CLOSE)
target_compile_definitions(lame_enc_failing PRIVATE FAILING_CHUNKS)
target_compile_definitions(lame_enc_oversized PRIVATE OVERSIZED_CHUNK)
