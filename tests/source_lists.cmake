# The product's sources, one absolute list per subsystem, for the test
# targets. The top-level CMakeLists.txt is to define these lists itself; until
# it does, they are made here, and once it does this file does nothing.
if(NOT DEFINED CORVANE_CMDLINE_SOURCES)
  set(src ${CMAKE_SOURCE_DIR}/src)
  set(CORVANE_CMDLINE_SOURCES ${src}/cmdline/argument_list.cpp ${src}/cmdline/parse_integer.cpp)
  set(CORVANE_DISPATCH_SOURCES ${src}/dispatch/dispatch.cpp)
  set(CORVANE_FRAME_SOURCES
    ${src}/frame/error_box.cpp ${src}/frame/fault_report.cpp ${src}/frame/process_frame.cpp
    ${src}/frame/storage.cpp ${src}/frame/text_channel.cpp)
  set(CORVANE_FRAME_I686_SOURCES
    ${src}/frame/fault_filter_win32.cpp ${src}/frame/machine_routines.cpp
    ${src}/frame/memory_routines.cpp)
endif()
