// Numbers that the machine code (machine_routines_i686.S) and the C++ code
// share. Macros only: the assembler reads this file too.
#pragma once

// Offsets in the thread information block, which FS addresses.
#define TIB_EXCEPTION_LIST 0
#define TIB_STACK_BASE 4
#define TIB_STACK_LIMIT 8

// The stack that start-up sets aside for the error path: room for the
// report and its message box after a stack overflow.
#define STACK_PAGE_BYTES 4096
#define ERROR_PATH_STACK_PAGES 64

// FaultRecord (fault_report.h), as the resume routine reads it.
#define FAULT_RECORD_SIZE 8
#define FAULT_RECORD_ADDRESS 0
#define FAULT_RECORD_ERROR_NUMBER 4
#define FAULT_RECORD_RESET_FPU 5
