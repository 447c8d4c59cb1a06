# corvane.exe: no C runtime, own entry point, only the imports it calls.
set(CORVANE_COMPILE_OPTIONS
  -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -fno-unwind-tables -fno-stack-protector -fno-omit-frame-pointer
  -fno-tree-loop-distribute-patterns -ffunction-sections -fdata-sections
  -fno-ident -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -Wall -Wextra)
set(CORVANE_LINK_OPTIONS
  -nostdlib -nostartfiles -s
  -Wl,-e,_ProcessEntry@0 -Wl,--subsystem,windows:4.0
  -Wl,--stack,0x2000000 -Wl,--gc-sections
  -Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-insert-timestamp)
set(CORVANE_LINK_LIBRARIES kernel32 user32 advapi32 gcc)

function(corvane_executable name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${CORVANE_COMPILE_OPTIONS})
  target_link_options(${name} PRIVATE ${CORVANE_LINK_OPTIONS})
  target_link_libraries(${name} PRIVATE ${CORVANE_LINK_LIBRARIES})
  set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
endfunction()

corvane_executable(corvane
  ${CORVANE_CORE_SOURCES}
  src/frame/entry.cpp
  src/frame/memory_routines.cpp)

add_subdirectory(tests/e2e)
