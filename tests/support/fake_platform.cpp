#include "fake_platform.h"

#include <stdlib.h>
#include <string.h>

#include <utility>

FakePlatformSettings FakePlatform;
std::vector<FakeCall> FakeCalls;
PlatformExceptionFilter FakeExceptionFilter;

namespace {

// GlobalAlloc hands out small numbers as handles, not addresses, so code
// that takes a handle for memory without GlobalLock fails at once.
constexpr uintptr_t kFirstGlobalHandle = 0x10000;
constexpr uintptr_t kGlobalHandleStep = 8;
// 32-bit Windows aligns GlobalAlloc memory to 8, not 16; so does this fake.
constexpr uintptr_t kGlobalAlignment = 8;

// Never freed: the storage manager keeps using its blocks across tests.
// Never destroyed either, so the leak check at exit still sees them held.
std::vector<char *> &GlobalBlocks = *new std::vector<char *>;

char *CommandLineCopy;
std::string CommandLineCopySource;

std::string Number(uint64_t value) { return std::to_string(value); }

std::string Handle(PlatformHandle handle) {
  return std::to_string(static_cast<intptr_t>(reinterpret_cast<uintptr_t>(handle)));
}

std::string Text(const char *text) {
  return text ? QuotedText(text) : std::string("NULL");
}

std::string Out(const void *pointer) { return pointer ? "out" : "NULL"; }

std::string Privileges(const PlatformTokenPrivileges *privileges) {
  if (!privileges) return "NULL";
  return "{" + Number(privileges->PrivilegeCount) + ", {" +
         Number(privileges->Luid.LowPart) + ", " +
         std::to_string(privileges->Luid.HighPart) + "}, " +
         Number(privileges->Attributes) + "}";
}

void Record(const char *function, std::vector<std::string> arguments) {
  if (FakePlatform.recordCalls)
    FakeCalls.push_back(FakeCall{function, std::move(arguments)});
}

}  // namespace

std::string QuotedText(const std::string &text) { return "\"" + text + "\""; }

std::string DescribeCall(const FakeCall &call) {
  std::string description = call.function + "(";
  for (size_t i = 0; i < call.arguments.size(); ++i) {
    if (i) description += ", ";
    description += call.arguments[i];
  }
  return description + ")";
}

std::vector<std::string> DescribeCalls() {
  std::vector<std::string> descriptions;
  for (const FakeCall &call : FakeCalls) descriptions.push_back(DescribeCall(call));
  return descriptions;
}

void ResetFakePlatform() {
  FakeCalls.clear();
  FakePlatform = FakePlatformSettings{};
  FakeExceptionFilter = nullptr;
  free(CommandLineCopy);
  CommandLineCopy = nullptr;
  CommandLineCopySource.clear();
}

extern "C" {

PlatformBool LockWorkStation(void) {
  Record("LockWorkStation", {});
  return FakePlatform.actionResult;
}

PlatformBool ExitWindowsEx(uint32_t flags, uint32_t reserved) {
  Record("ExitWindowsEx", {Number(flags), Number(reserved)});
  return FakePlatform.actionResult;
}

int32_t MessageBoxA(PlatformHandle owner, const char *text, const char *caption,
                    uint32_t style) {
  Record("MessageBoxA", {Handle(owner), Text(text), Text(caption), Number(style)});
  return FakePlatform.messageBoxResult;
}

PlatformBool OpenProcessToken(PlatformHandle process, uint32_t desiredAccess,
                              PlatformHandle *token) {
  Record("OpenProcessToken", {Handle(process), Number(desiredAccess), Out(token)});
  if (FakePlatform.privilegeResult && token) *token = FakePlatform.token;
  return FakePlatform.privilegeResult;
}

PlatformBool LookupPrivilegeValueA(const char *systemName, const char *name,
                                   PlatformLuid *luid) {
  Record("LookupPrivilegeValueA", {Text(systemName), Text(name), Out(luid)});
  if (FakePlatform.privilegeResult && luid) *luid = FakePlatform.luid;
  return FakePlatform.privilegeResult;
}

PlatformBool AdjustTokenPrivileges(PlatformHandle token, PlatformBool disableAll,
                                   PlatformTokenPrivileges *newState,
                                   uint32_t bufferLength,
                                   PlatformTokenPrivileges *previousState,
                                   uint32_t *returnLength) {
  Record("AdjustTokenPrivileges",
         {Handle(token), std::to_string(disableAll), Privileges(newState),
          Number(bufferLength), Out(previousState), Out(returnLength)});
  return FakePlatform.privilegeResult;
}

PlatformBool SetSystemPowerState(PlatformBool suspend, PlatformBool force) {
  Record("SetSystemPowerState", {std::to_string(suspend), std::to_string(force)});
  return FakePlatform.actionResult;
}

char *GetCommandLineA(void) {
  Record("GetCommandLineA", {});
  // The same pointer for every call, as on Windows, until the text changes.
  if (!CommandLineCopy || CommandLineCopySource != FakePlatform.commandLine) {
    free(CommandLineCopy);
    const std::string &line = FakePlatform.commandLine;
    CommandLineCopy = static_cast<char *>(malloc(line.size() + 1));
    memcpy(CommandLineCopy, line.c_str(), line.size() + 1);
    CommandLineCopySource = line;
  }
  return CommandLineCopy;
}

uint32_t GetModuleFileNameA(PlatformHandle module, char *buffer, uint32_t size) {
  Record("GetModuleFileNameA", {Handle(module), Out(buffer), Number(size)});
  const std::string &path = FakePlatform.modulePath;
  if (size == 0) return 0;
  if (path.size() < size) {
    memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<uint32_t>(path.size());
  }
  if (FakePlatform.modulePathCut == ModulePathCut::FilledWithoutTerminator) {
    memcpy(buffer, path.data(), size);
  } else {
    memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = 0;
  }
  return size;
}

PlatformHandle GetStdHandle(uint32_t which) {
  Record("GetStdHandle", {std::to_string(static_cast<int32_t>(which))});
  return FakePlatform.stdHandle;
}

uint32_t GetFileType(PlatformHandle file) {
  Record("GetFileType", {Handle(file)});
  return FakePlatform.fileType;
}

PlatformHandle GlobalAlloc(uint32_t flags, uintptr_t bytes) {
  Record("GlobalAlloc", {Number(flags), Number(bytes)});
  if (FakePlatform.globalAllocsBeforeFailure == 0) return nullptr;
  if (FakePlatform.globalAllocsBeforeFailure > 0)
    --FakePlatform.globalAllocsBeforeFailure;
  char *base = static_cast<char *>(malloc(bytes + kGlobalAlignment));
  if (!base) return nullptr;
  GlobalBlocks.push_back(base);
  return reinterpret_cast<PlatformHandle>(kFirstGlobalHandle +
                                          (GlobalBlocks.size() - 1) * kGlobalHandleStep);
}

void *GlobalLock(PlatformHandle memory) {
  Record("GlobalLock", {Handle(memory)});
  uintptr_t handle = reinterpret_cast<uintptr_t>(memory);
  if (FakePlatform.globalLockFails || handle < kFirstGlobalHandle ||
      (handle - kFirstGlobalHandle) % kGlobalHandleStep != 0)
    return nullptr;
  size_t index = (handle - kFirstGlobalHandle) / kGlobalHandleStep;
  if (index >= GlobalBlocks.size()) return nullptr;
  // malloc aligns to 16; move to the odd multiple of 8 above it.
  char *base = GlobalBlocks[index];
  uintptr_t address = reinterpret_cast<uintptr_t>(base);
  return address % (2 * kGlobalAlignment) == 0 ? base + kGlobalAlignment : base;
}

PlatformExceptionFilter SetUnhandledExceptionFilter(PlatformExceptionFilter filter) {
  Record("SetUnhandledExceptionFilter", {Out(reinterpret_cast<const void *>(filter))});
  PlatformExceptionFilter previous = FakeExceptionFilter;
  FakeExceptionFilter = filter;
  return previous;
}

void ExitProcess(uint32_t exitCode) {
  Record("ExitProcess", {Number(exitCode)});
  throw FakeProcessExit{exitCode};
}

}  // extern "C"
