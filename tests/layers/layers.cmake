# The layers are a fact of the build: a core file that includes a header of a higher layer, of a
# front end or of Qt does not compile. Each probe is one include, compiled with exactly the
# include roots of one layer; the test builds it and expects the compiler's refusal of that very
# header. The last probe includes what its layer may use and must build, so the refusals are not
# vacuous. Usage: tolvane_layer_probe(name layer REFUSED header | BUILDS)
function(tolvane_layer_probe name layer expectation)
  set(refused_header ${ARGN})
  add_library(layer_probe_${name} OBJECT EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
  target_link_libraries(layer_probe_${name} PRIVATE tolvane_${layer})
  add_test(NAME Layers.${name}
           COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target layer_probe_${name})
  # One build tool at a time in the build folder.
  set_tests_properties(Layers.${name} PROPERTIES LABELS layers RESOURCE_LOCK build_folder)
  if(expectation STREQUAL "REFUSED")
    set_tests_properties(Layers.${name} PROPERTIES
      PASS_REGULAR_EXPRESSION "fatal error: ${refused_header}: No such file or directory")
  endif()
endfunction()

tolvane_layer_probe(pipeline_includes_qt pipeline REFUSED QString)
tolvane_layer_probe(pipeline_includes_decoders pipeline REFUSED decoders/source_types.h)
tolvane_layer_probe(encoders_includes_the_wizard encoders REFUSED app/wizard_flow.h)
tolvane_layer_probe(catalogue_includes_delivery catalogue REFUSED delivery/carriers.h)
tolvane_layer_probe(delivery_includes_the_command_line delivery REFUSED cli/options.h)
tolvane_layer_probe(sources_includes_what_it_uses sources BUILDS)
