// The platform's records and numbers that Corvane uses, laid out and valued
// as Windows has them, without <windows.h>. records_check_win32.cpp compares
// them with MinGW-w64's headers.
#pragma once

#include <stdint.h>

typedef int32_t PlatformBool;
typedef void *PlatformHandle;

struct PlatformLuid {
  uint32_t LowPart;
  int32_t HighPart;
};

// TOKEN_PRIVILEGES with room for exactly one LUID_AND_ATTRIBUTES entry.
struct PlatformTokenPrivileges {
  uint32_t PrivilegeCount;
  PlatformLuid Luid;
  uint32_t Attributes;
};

constexpr uint32_t kGmemMoveable = 0x0002;
constexpr uint32_t kFileTypeChar = 2;

// GetCurrentProcess()'s pseudo-handle. A function, not a constant: a cast to
// a pointer is no constant expression, and nothing here would run a dynamic
// initialiser.
inline PlatformHandle CurrentProcess() {
  return reinterpret_cast<PlatformHandle>(intptr_t{-1});
}
