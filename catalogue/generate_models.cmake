# Turns models.tsv into the compiled model table (a C++ source file).
# Usage: cmake -DINPUT=models.tsv -DOUTPUT=models_table.cpp -P generate_models.cmake
#
# Each line of the input is "<model id>\t<vendor name>\t<model name>\t0x<mask>"; lines starting
# with "#" are comments. Model ids must count up from 0 (they are row positions). Vendor names are
# resolved to ids by the compiler against the vendor table, so an unknown vendor fails the build.

file(STRINGS "${INPUT}" lines ENCODING UTF-8)
set(body "")
set(expected 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^#" OR line STREQUAL "")
    continue()
  endif()
  if(NOT line MATCHES "^([0-9]+)\t([^\t]+)\t([^\t]+)\t0x([0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]?)$")
    message(FATAL_ERROR "${INPUT}: malformed row after model ${expected}: '${line}'")
  endif()
  set(id "${CMAKE_MATCH_1}")
  set(vendor "${CMAKE_MATCH_2}")
  set(name "${CMAKE_MATCH_3}")
  set(mask "${CMAKE_MATCH_4}")
  if(NOT id EQUAL expected)
    message(FATAL_ERROR "${INPUT}: model id ${id} stands at row ${expected}")
  endif()
  foreach(text vendor name)
    string(REPLACE "\\" "\\\\" ${text} "${${text}}")
    string(REPLACE "\"" "\\\"" ${text} "${${text}}")
  endforeach()
  string(APPEND body "    {${id}, vendorIdOf(\"${vendor}\"), \"${name}\", 0x${mask}},\n")
  math(EXPR expected "${expected} + 1")
endforeach()

file(WRITE "${OUTPUT}.new" "// Generated from models.tsv by generate_models.cmake. Do not edit.
#include \"catalogue/catalogue.h\"

namespace tolvane::catalogue {

static_assert(kModelCount == ${expected}, \"models.tsv and kModelCount disagree\");

constinit const PhoneModel kModelTable[kModelCount + 1] = {
${body}    {kEndOfTable, 0, nullptr, 0},
};

}  // namespace tolvane::catalogue
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
