// corvane-idle.exe: the benchmark's baseline. It imports exactly the
// platform functions corvane.exe imports, so the loader maps and binds the
// same DLLs, and its entry point does nothing but end the process.
#include "platform/platform.h"

namespace {

// Taking each import's address keeps it in the import table.
const void *volatile ImportAddress;

template <typename... Functions>
void TakeAddresses(Functions... functions) {
  ((ImportAddress = reinterpret_cast<const void *>(functions)), ...);
}

}  // namespace

extern "C" [[noreturn]] void __stdcall ProcessEntry() {
  TakeAddresses(LockWorkStation, ExitWindowsEx, MessageBoxA, OpenProcessToken,
                LookupPrivilegeValueA, AdjustTokenPrivileges,
                SetSystemPowerState, GetCommandLineA, GetModuleFileNameA,
                GetStdHandle, SetUnhandledExceptionFilter, ExitProcess,
                GetFileType, GlobalAlloc, GlobalLock);
  ExitProcess(0);
}
