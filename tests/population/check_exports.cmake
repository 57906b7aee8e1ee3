# Fails unless the population module's dynamic symbol table defines exactly
# its four functions (the model's constants and entry points inside it stay
# private).
execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-f]+ ([A-Za-z]) (.+)$")
    list(APPEND found "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
  endif()
endforeach()
list(SORT found)
set(expected "T phenomd_population_has_fast_row;T phenomd_population_nodes;T phenomd_population_snr;T phenomd_population_snr_edges;T phenomd_population_snr_gauss")
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols\n  ${found}\nexpected\n  ${expected}")
endif()
