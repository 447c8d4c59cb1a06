// Start-up and exit: the values and routines between the entry point and
// ExitProcess. The entry point itself and the resume routine are machine
// code (machine_routines_i686.S); everything else here is portable.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

extern "C" {
// 0: GUI process. Console behaviour is not part of this program.
extern uint8_t ConsoleFlag;
// The stack-segment selector at start-up, zero-extended.
extern uint32_t StartupStackSegment;
// x87 control word: invalid operation, zero divide and overflow trap;
// 64-bit mantissa, round to nearest.
extern const uint16_t DefaultFpuControlWord;

[[noreturn]] void MainSequence();
[[noreturn]] void EndProcess();

// Registered with SetUnhandledExceptionFilter.
int32_t PLATFORM_CALLBACK FaultFilter(PlatformExceptionPointers *pointers);
}

constexpr uint16_t kDefaultFpuControlWord = 0x1332;

typedef void (*ModuleRoutine)();

struct ModuleInitEntry {
  ModuleRoutine Initialiser;  // either may be null
  ModuleRoutine Finaliser;
};

constexpr int32_t kModuleCount = 2;

struct ModuleInitTableRecord {
  int32_t Count;
  int32_t InitialisedCount;
  ModuleInitEntry Entries[kModuleCount];
};

extern ModuleInitTableRecord ModuleInitTable;

// Exit code: 0, what RunDispatch returned, or the run-time error number.
extern uint16_t ProcessExitCode;
// A report is pending while RuntimeErrorNumber is not 0 (every run-time
// error number is). The address may be 0: a call through a null pointer.
extern uint32_t RuntimeErrorAddress;
extern uint16_t RuntimeErrorNumber;
extern uint32_t RuntimeErrorFrame;
// Set while the exit sequence writes the report.
extern bool FaultReportInProgress;

struct StringTableEntry {
  const char *Original;
  const char *Current;
};
struct StringTable {
  int32_t Count;
  StringTableEntry *Entries;
};
// The tables ResetStringTable goes through; this program has none.
extern StringTable *const *StringTables;
extern int32_t StringTableCount;

void InitRuntimeServices();
// Every value of the frame (start-up, channels, error box, fault report,
// storage) back to its state at load time, for tests; the module table
// keeps its entries.
void ResetProcessFrame();
void ResetStringTable();
[[noreturn]] void RunExitSequence();
