# corvane.exe: no C runtime, own entry point, only the imports it calls.
# -Oz: size before speed everywhere. Win32 only promises 4-byte stack
# alignment, and nothing here needs more. Zero-initialised data goes to .bss
# (no -fdata-sections: MinGW would give each such variable a .data section
# full of zeros). The sections keep the toolchain's usual layout, so that
# resource editors and signing tools can rewrite the image. --no-seh: no
# code here registers an exception handler (faults reach the top-level
# filter), and the flag says so to the loader and to binary checkers.
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
  target_compile_options(${name} PRIVATE ${CORVANE_COMPILE_OPTIONS})
  target_link_options(${name} PRIVATE ${CORVANE_LINK_OPTIONS})
  target_link_libraries(${name} PRIVATE ${CORVANE_LINK_LIBRARIES})
  set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
endfunction()

# The process frame; the fault tests link the same list.
set(CORVANE_FRAME_SOURCES
  src/frame/error_box.cpp
  src/frame/fault_filter_win32.cpp
  src/frame/fault_report.cpp
  src/frame/machine_routines.cpp
  src/frame/memory_routines.cpp
  src/frame/process_frame.cpp
  src/frame/text_channel.cpp)

corvane_executable(corvane
  ${CORVANE_CORE_SOURCES}
  ${CORVANE_FRAME_SOURCES})

# The build scripts and tests run under the system Python, which has pefile.
find_program(SYSTEM_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
include(cmake/package.cmake)
include(cmake/image.cmake OPTIONAL)
add_subdirectory(tests/e2e)
