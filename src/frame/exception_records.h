// The 32-bit x86 exception records the fault filter reads and changes,
// laid out as the platform passes them (EXCEPTION_RECORD, CONTEXT,
// EXCEPTION_POINTERS). Pointer fields inside the records are kept as 32-bit
// numbers so that host tests build the same layout. records_check_win32.cpp
// compares them with <windows.h>.
#pragma once

#include <stdint.h>

constexpr int32_t kExceptionContinueExecution = -1;
constexpr int32_t kExceptionContinueSearch = 0;

struct PlatformExceptionRecord {
  uint32_t ExceptionCode;
  uint32_t ExceptionFlags;
  uint32_t ExceptionRecord;
  uint32_t ExceptionAddress;
  uint32_t NumberParameters;
  uint32_t ExceptionInformation[15];
};

constexpr uint32_t kFloatSaveAreaSize = 112;
constexpr uint32_t kExtendedRegistersSize = 512;

struct PlatformContext {
  uint32_t ContextFlags;
  uint32_t Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
  uint8_t FloatSave[kFloatSaveAreaSize];
  uint32_t SegGs, SegFs, SegEs, SegDs;
  uint32_t Edi, Esi, Ebx, Edx, Ecx, Eax;
  uint32_t Ebp;
  uint32_t Eip;
  uint32_t SegCs;
  uint32_t EFlags;
  uint32_t Esp;
  uint32_t SegSs;
  uint8_t ExtendedRegisters[kExtendedRegistersSize];
};

struct PlatformExceptionPointers {
  PlatformExceptionRecord *ExceptionRecord;
  PlatformContext *ContextRecord;
};
