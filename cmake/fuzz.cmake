# Fuzz targets. Each target's checks are built twice: as a replay runner
# that CTest runs over the seed corpus and every saved crash, and, with
# clang, as a libFuzzer binary (tests/fuzz/run_fuzzers.sh runs those).
set(CORVANE_FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)

include(CheckCXXSourceCompiles)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer")
  check_cxx_source_compiles(
    "#include <stddef.h>
     #include <stdint.h>
     extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t *, size_t) { return 0; }"
    CORVANE_HAVE_LIBFUZZER)
  unset(CMAKE_REQUIRED_FLAGS)
endif()
option(CORVANE_FUZZERS "Build the libFuzzer binaries" ${CORVANE_HAVE_LIBFUZZER})

set(CORVANE_FUZZ_MODEL
  ${CMAKE_SOURCE_DIR}/tests/support/reference_model.cpp
  ${CORVANE_FUZZ_DIR}/fuzz_check.cpp)
# The seed corpora and dictionaries, written from the case tables.
set(CORVANE_FUZZ_SEEDS ${CMAKE_BINARY_DIR}/fuzz-seeds)
corvane_fuzz_seeds(${CORVANE_FUZZ_SEEDS})

# Every target runs the command line and the dispatch against the fakes.
set(CORVANE_FUZZ_FAKES corvane_fake_platform corvane_fake_storage corvane_fake_runtime_error)

# corvane_fuzz_target(NAME)
function(corvane_fuzz_target name)
  set(sources ${CORVANE_FUZZ_DIR}/${name}_fuzz.cpp
              ${CORVANE_CMDLINE_SOURCES} ${CORVANE_DISPATCH_SOURCES} ${CORVANE_FUZZ_MODEL})

  add_executable(fuzz-replay-${name} ${sources} ${CORVANE_FUZZ_DIR}/replay_main.cpp)
  target_include_directories(fuzz-replay-${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(fuzz-replay-${name} PRIVATE ${CORVANE_FUZZ_FAKES} corvane_case_tables)
  add_test(NAME fuzz.regression.${name}
    COMMAND fuzz-replay-${name}
            ${CORVANE_FUZZ_SEEDS}/${name} ${CORVANE_FUZZ_SEEDS}/${name}_long
            ${CORVANE_FUZZ_DIR}/crashes/${name})
  # The longest, the argument list's megabyte lines under the sanitizers,
  # takes 8 to 15 s.
  set_tests_properties(fuzz.regression.${name} PROPERTIES TIMEOUT 120)

  if(CORVANE_FUZZERS)
    add_executable(fuzz-${name} ${sources})
    target_include_directories(fuzz-${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(fuzz-${name} PRIVATE ${CORVANE_FUZZ_FAKES} corvane_case_tables)
    set(fuzz_flags -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
    target_compile_options(fuzz-${name} PRIVATE ${fuzz_flags} -O1 -gline-tables-only)
    target_link_options(fuzz-${name} PRIVATE ${fuzz_flags})
  endif()
endfunction()

corvane_fuzz_target(parse_integer)
corvane_fuzz_target(argument_list)
corvane_fuzz_target(dispatch)
