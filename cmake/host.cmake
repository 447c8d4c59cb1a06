# Unit tests of the portable code, built for the build machine: Linux on
# x86-64 (the frame tests lay out stacks below 4 GiB with MAP_32BIT), GCC
# or Clang; the fuzz targets need Clang's libFuzzer.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64" OR
   NOT CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
  message(FATAL_ERROR
    "The host presets need GCC or Clang on x86-64 Linux; this is "
    "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} on "
    "${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR}.")
endif()
find_package(GTest REQUIRED)
include(GoogleTest)

# A sanitizer preset only has to set this, e.g. "address,undefined".
set(CORVANE_SANITIZERS "" CACHE STRING
  "Comma-separated -fsanitize= list for every host target")

add_compile_options(-Wall -Wextra -g -fno-omit-frame-pointer)
if(CORVANE_SANITIZERS)
  add_compile_options(-fsanitize=${CORVANE_SANITIZERS}
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${CORVANE_SANITIZERS})
endif()

add_subdirectory(tests/support)
add_subdirectory(tests/unit)
