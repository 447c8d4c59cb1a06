#include "frame/process_frame.h"

#include "cmdline/argument_list.h"
#include "dispatch/dispatch.h"
#include "frame/error_box.h"
#include "frame/fault_report.h"
#include "frame/storage.h"
#include "frame/text_channel.h"

uint8_t ConsoleFlag;
uint32_t StartupStackSegment;
const uint16_t DefaultFpuControlWord = kDefaultFpuControlWord;

uint16_t ProcessExitCode;
uint32_t RuntimeErrorAddress;
uint16_t RuntimeErrorNumber;
uint32_t RuntimeErrorFrame;
bool FaultReportInProgress;

StringTable *const *StringTables;
int32_t StringTableCount;

namespace {

constexpr uint32_t kStdInputHandle = static_cast<uint32_t>(-10);
constexpr uint32_t kStdOutputHandle = static_cast<uint32_t>(-11);
constexpr uint32_t kStdErrorHandle = static_cast<uint32_t>(-12);

// Nothing to release: the tables are constant data.
void FinaliseStringTable() {}

void Clear(void *memory, uint32_t bytes) {
  char *p = static_cast<char *>(memory);
  for (uint32_t i = 0; i < bytes; ++i) p[i] = 0;
}

}  // namespace

ModuleInitTableRecord ModuleInitTable = {
    kModuleCount,
    0,
    {{InitRuntimeServices, nullptr}, {ResetStringTable, FinaliseStringTable}},
};

void InitRuntimeServices() {
  PrepareStorage();
  const uint32_t kWhich[kStandardHandleCount] = {
      kStdInputHandle, kStdOutputHandle, kStdErrorHandle};
  for (int i = 0; i < kStandardHandleCount; ++i)
    StandardHandles[i] =
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetStdHandle(kWhich[i])));
  if (ConsoleFlag == 0) {
    BindErrorBoxChannel(&StdErrChannel);
    OpenErrorBoxChannel(&StdErrChannel);
    BindErrorBoxChannel(&StdOutChannel);
    OpenErrorBoxChannel(&StdOutChannel);
  }
  BuildArgumentList();
  IoStatus = 0;
}

void ResetProcessFrame() {
  ConsoleFlag = 0;
  StartupStackSegment = 0;
  StartupExceptionChain = 0;
  ErrorPathStackTop = 0;
  ModuleInitTable.InitialisedCount = 0;
  ProcessExitCode = 0;
  RuntimeErrorAddress = 0;
  RuntimeErrorNumber = 0;
  RuntimeErrorFrame = 0;
  FaultReportInProgress = false;
  IoStatus = 0;
  Clear(&StdOutChannel, sizeof StdOutChannel);
  Clear(&StdErrChannel, sizeof StdErrChannel);
  Clear(StandardHandles, sizeof StandardHandles);
  ErrorTextLength = 0;
  Clear(ErrorText, sizeof ErrorText);
  PendingFaultCount = 0;
  Clear(PendingFaults, sizeof PendingFaults);
  PrepareStorage();
}

void ResetStringTable() {
  for (int32_t t = 0; t < StringTableCount; ++t) {
    StringTable *table = StringTables[t];
    for (int32_t e = 0; e < table->Count; ++e)
      table->Entries[e].Current = table->Entries[e].Original;
  }
}

void MainSequence() {
  ConsoleFlag = 0;
  for (int32_t i = 0; i < ModuleInitTable.Count; ++i) {
    if (ModuleRoutine initialise = ModuleInitTable.Entries[i].Initialiser)
      initialise();
    ModuleInitTable.InitialisedCount = i + 1;
  }
  ProcessExitCode = RunDispatch();
  RunExitSequence();
}

// Entered after the dispatch and again after a fault. The count is lowered
// before each finaliser runs, so a finaliser that faults is not run again.
void RunExitSequence() {
  while (ModuleInitTable.InitialisedCount > 0) {
    --ModuleInitTable.InitialisedCount;
    if (ModuleRoutine finalise =
            ModuleInitTable.Entries[ModuleInitTable.InitialisedCount].Finaliser)
      finalise();
  }
  // The number, not the address, says a report is pending: a call through
  // a null routine reference faults at address 0 and must still report.
  if (RuntimeErrorNumber != 0) {
    FaultReportInProgress = true;
    WriteFaultReport();
  }
  EndProcess();
}

void EndProcess() {
  if (ConsoleFlag == 0) {
    CloseChannel(&StdErrChannel);
    CloseChannel(&StdOutChannel);
  }
  SetUnhandledExceptionFilter(nullptr);
  ExitProcess(ProcessExitCode);
}
