# Unit tests of the portable core, built for the build machine.
find_package(GTest REQUIRED)
add_subdirectory(tests/unit)
