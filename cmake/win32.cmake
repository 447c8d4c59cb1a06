# corvane.exe: no C runtime, own entry point, only the imports it calls.

# The options below are GCC's: -Oz came with GCC 12, -flto-partition=one
# and -fno-tree-loop-distribute-patterns exist only there, and the machine
# code is i686.
foreach(lang C CXX)
  if(NOT CMAKE_${lang}_COMPILER_ID STREQUAL "GNU" OR
     CMAKE_${lang}_COMPILER_VERSION VERSION_LESS 12 OR NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    message(FATAL_ERROR
      "The win32 preset needs MinGW-w64 GCC 12 or later for 32-bit x86 "
      "(i686-w64-mingw32-gcc and -g++); ${CMAKE_${lang}_COMPILER} is "
      "${CMAKE_${lang}_COMPILER_ID} ${CMAKE_${lang}_COMPILER_VERSION} with "
      "${CMAKE_SIZEOF_VOID_P}-byte pointers.")
  endif()
endforeach()
enable_language(ASM)

# -Oz: size before speed everywhere. Win32 only promises 4-byte stack
# alignment, and nothing here needs more. There is no memset or memcpy to
# call, so GCC must not turn loops into calls to them. Zero-initialised data
# goes to .bss (no -fdata-sections: MinGW would give each such variable a
# .data section full of zeros). The sections keep the toolchain's usual
# layout, so that resource editors and signing tools can rewrite the image.
# --no-seh: no code here registers an exception handler (faults reach the
# top-level filter), and the flag says so to the loader and to binary
# checkers.
set(CORVANE_COMPILE_OPTIONS
  -Oz -mpreferred-stack-boundary=2
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -fno-unwind-tables -fno-stack-protector -fno-omit-frame-pointer
  -fno-tree-loop-distribute-patterns -ffunction-sections
  -fno-ident -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -Wall -Wextra)
set(CORVANE_LINK_OPTIONS
  -nostdlib -nostartfiles -s
  -Wl,-e,_ProcessEntry@0 -Wl,--subsystem,windows:4.0
  -Wl,--stack,0x2000000 -Wl,--gc-sections
  -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-seh -Wl,--tsaware
  -Wl,--no-insert-timestamp)
set(CORVANE_LINK_LIBRARIES kernel32 user32 advapi32 gcc)

function(corvane_executable name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${CORVANE_COMPILE_OPTIONS}>)
  target_link_options(${name} PRIVATE ${CORVANE_LINK_OPTIONS})
  target_link_libraries(${name} PRIVATE ${CORVANE_LINK_LIBRARIES})
  set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
endfunction()

corvane_executable(corvane
  ${CORVANE_CMDLINE_SOURCES} ${CORVANE_DISPATCH_SOURCES}
  ${CORVANE_FRAME_SOURCES} ${CORVANE_FRAME_I686_SOURCES})

# The hand-written records and offsets against MinGW-w64's <windows.h>:
# compiled with the image, linked into nothing, and a mismatch fails the
# build.
add_library(corvane-records-check OBJECT src/platform/records_check_win32.cpp)
target_include_directories(corvane-records-check PRIVATE ${CMAKE_SOURCE_DIR}/src)
add_dependencies(corvane corvane-records-check)

# The build scripts and tests run under the system Python, which has pefile.
find_program(SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
include(cmake/package.cmake)
include(cmake/image.cmake OPTIONAL)
add_subdirectory(tests/e2e)
