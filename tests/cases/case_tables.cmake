# The case tables of tests/cases/ for the C++ tests: written out as C++, and
# as the fuzzers' seed corpora and dictionaries, at build time.
find_program(CORVANE_PYTHON NAMES python3 REQUIRED)

# Sets `tables`: the table files and their reader.
macro(corvane_case_files)
  set(tables split conversion actions help_switches help_lines)
  list(TRANSFORM tables PREPEND ${CMAKE_SOURCE_DIR}/tests/cases/)
  list(TRANSFORM tables APPEND .txt)
  list(APPEND tables ${CMAKE_SOURCE_DIR}/tests/cases/case_tables.py)
endmacro()

# Sets `out` to the generated source that defines case_tables.h's rows.
function(corvane_case_tables_cpp out)
  corvane_case_files()
  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/case_tables.cpp)
  add_custom_command(OUTPUT ${cpp}
    COMMAND ${CORVANE_PYTHON} ${CMAKE_SOURCE_DIR}/tests/cases/case_tables.py --cpp ${cpp}
    DEPENDS ${tables}
    COMMENT "Writing the case tables as C++" VERBATIM)
  set(${out} ${cpp} PARENT_SCOPE)
endfunction()

# Writes the seed corpora and dictionaries into `directory` (target
# corvane-fuzz-seeds, part of the default build).
function(corvane_fuzz_seeds directory)
  corvane_case_files()
  set(script ${CMAKE_SOURCE_DIR}/tests/fuzz/make_seeds.py)
  add_custom_command(OUTPUT ${directory}/written
    COMMAND ${CORVANE_PYTHON} ${script} --out ${directory}
    COMMAND ${CMAKE_COMMAND} -E touch ${directory}/written
    DEPENDS ${script} ${tables}
    COMMENT "Writing the fuzz seeds from the case tables" VERBATIM)
  add_custom_target(corvane-fuzz-seeds ALL DEPENDS ${directory}/written)
endfunction()
