// The platform functions Corvane calls, declared without <windows.h>.
//
// On Windows these are the real imports (called through the import address
// table). Host tests and fuzzers define functions with the same names and
// record what they are asked to do, so the portable code runs unchanged on
// Linux under the sanitizers; a Windows build of such a stand-in defines
// CORVANE_FAKE_PLATFORM.
#pragma once

#include <stdint.h>

#include "platform/platform_types.h"

#if defined(_WIN32) && !defined(CORVANE_FAKE_PLATFORM)
#define PLATFORM_API __declspec(dllimport) __stdcall
#define PLATFORM_CALLBACK __stdcall
#else
#define PLATFORM_API
#define PLATFORM_CALLBACK
#endif

// EXCEPTION_POINTERS; the records are laid out in frame/exception_records.h.
struct PlatformExceptionPointers;
typedef int32_t(PLATFORM_CALLBACK *PlatformExceptionFilter)(
    PlatformExceptionPointers *pointers);

extern "C" {
// user32
PlatformBool PLATFORM_API LockWorkStation(void);
PlatformBool PLATFORM_API ExitWindowsEx(uint32_t flags, uint32_t reserved);
int32_t PLATFORM_API MessageBoxA(PlatformHandle owner, const char *text,
                                 const char *caption, uint32_t style);

// advapi32
PlatformBool PLATFORM_API OpenProcessToken(PlatformHandle process,
                                           uint32_t desiredAccess,
                                           PlatformHandle *token);
PlatformBool PLATFORM_API LookupPrivilegeValueA(const char *systemName,
                                                const char *name,
                                                PlatformLuid *luid);
PlatformBool PLATFORM_API AdjustTokenPrivileges(
    PlatformHandle token, PlatformBool disableAll,
    PlatformTokenPrivileges *newState, uint32_t bufferLength,
    PlatformTokenPrivileges *previousState, uint32_t *returnLength);

// kernel32
PlatformBool PLATFORM_API SetSystemPowerState(PlatformBool suspend,
                                              PlatformBool force);
char *PLATFORM_API GetCommandLineA(void);
uint32_t PLATFORM_API GetModuleFileNameA(PlatformHandle module, char *buffer,
                                         uint32_t size);
PlatformHandle PLATFORM_API GetStdHandle(uint32_t which);
uint32_t PLATFORM_API GetFileType(PlatformHandle file);
PlatformHandle PLATFORM_API GlobalAlloc(uint32_t flags, uintptr_t bytes);
void *PLATFORM_API GlobalLock(PlatformHandle memory);
[[noreturn]] void PLATFORM_API ExitProcess(uint32_t exitCode);
PlatformExceptionFilter PLATFORM_API
SetUnhandledExceptionFilter(PlatformExceptionFilter filter);
}
