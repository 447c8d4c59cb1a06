# Unit tests of the portable core, built for the build machine.
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
