// A stand-in for every function of platform/platform.h, for host tests and
// fuzzers. Each call is recorded in order; what the calls return is set
// through FakePlatform. No test framework is needed to use it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "platform/platform.h"

// One recorded call. Each argument is rendered as text:
//   numbers and handles in decimal (handles signed, so the current-process
//   handle reads -1);
//   texts copied byte for byte between double quotes;
//   a null pointer as NULL; any other pointer that is not a text (out-values,
//   the exception filter) as out;
//   a TOKEN_PRIVILEGES record as {count, {LowPart, HighPart}, Attributes}.
struct FakeCall {
  std::string function;
  std::vector<std::string> arguments;
};

// "Function(argument, argument, ...)".
std::string DescribeCall(const FakeCall &call);
// The recorded calls, each as DescribeCall renders it.
std::vector<std::string> DescribeCalls();
// A text argument as FakeCall records it.
std::string QuotedText(const std::string &text);

// How GetModuleFileNameA behaves when the path does not fit `size`.
enum class ModulePathCut {
  // Current systems and Wine: size - 1 bytes and a zero byte.
  TerminatedWithinSize,
  // Windows XP: exactly size bytes and no zero byte.
  FilledWithoutTerminator,
};

struct FakePlatformSettings {
  bool recordCalls = true;
  // GetCommandLineA returns a copy in storage of exactly size() + 1 bytes,
  // so reading past its zero byte shows up under AddressSanitizer.
  std::string commandLine;
  std::string modulePath = "C:\\Program Files\\Corvane\\Corvane.exe";
  ModulePathCut modulePathCut = ModulePathCut::TerminatedWithinSize;
  // LockWorkStation, ExitWindowsEx and SetSystemPowerState.
  PlatformBool actionResult = 1;
  // OpenProcessToken, LookupPrivilegeValueA, AdjustTokenPrivileges. On
  // failure the out-values are left alone.
  PlatformBool privilegeResult = 1;
  PlatformHandle token = reinterpret_cast<PlatformHandle>(uintptr_t{4660});
  PlatformLuid luid = {19, 0};
  int32_t messageBoxResult = 1;  // IDOK
  // GlobalAlloc succeeds this many more times, then returns 0; -1: always.
  int32_t globalAllocsBeforeFailure = -1;
  bool globalLockFails = false;
  PlatformHandle stdHandle = reinterpret_cast<PlatformHandle>(uintptr_t{0});
  uint32_t fileType = 0;  // FILE_TYPE_UNKNOWN
};

extern FakePlatformSettings FakePlatform;
extern std::vector<FakeCall> FakeCalls;
// The filter most recently passed to SetUnhandledExceptionFilter.
extern PlatformExceptionFilter FakeExceptionFilter;

// Thrown by ExitProcess, after the call is recorded.
struct FakeProcessExit {
  uint32_t exitCode;
};

// Clears the record and the settings. Storage obtained through GlobalAlloc
// is kept: the storage manager may still hold it. The program's own values
// have Reset routines of their own.
void ResetFakePlatform();
