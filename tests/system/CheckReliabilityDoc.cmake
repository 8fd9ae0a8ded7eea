# Checks that DOC (docs/reliability.md) lists every row "fault<TAB>op<TAB>outcome"
# of the fault matrix's TABLE as a table row beginning "| fault | op | outcome |".
#   cmake -DTABLE=fault_matrix.tsv -DDOC=docs/reliability.md -P CheckReliabilityDoc.cmake
file(STRINGS "${TABLE}" rows)
if(NOT rows)
  message(FATAL_ERROR "no fault table rows in ${TABLE}: run system_host first")
endif()
file(READ "${DOC}" doc)
foreach(row IN LISTS rows)
  string(REPLACE "\t" " | " cells "${row}")
  string(FIND "${doc}" "| ${cells} |" at)
  if(at EQUAL -1)
    string(APPEND missing "\n  | ${cells} |")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${DOC} does not list these fault matrix rows as observed:${missing}")
endif()
