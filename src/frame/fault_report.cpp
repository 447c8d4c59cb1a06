// Everything here may run after a fault: it allocates nothing, keeps its
// texts in fixed buffers and reads memory only where it knows it may.
#include "frame/fault_report.h"

#include "frame/process_frame.h"
#include "frame/runtime_error.h"
#include "platform/platform.h"

FaultRecord PendingFaults[kPendingFaultCapacity];
uint8_t PendingFaultCount;
uint32_t ErrorPathStackTop;
uint32_t StartupExceptionChain;

namespace {

constexpr uint32_t kStatusSingleStep = 0x80000004;
constexpr uint32_t kStatusAccessViolation = 0xC0000005;
constexpr uint32_t kStatusInPageError = 0xC0000006;
constexpr uint32_t kStatusIllegalInstruction = 0xC000001D;
constexpr uint32_t kStatusArrayBoundsExceeded = 0xC000008C;
constexpr uint32_t kStatusFloatDenormalOperand = 0xC000008D;
constexpr uint32_t kStatusFloatDivideByZero = 0xC000008E;
constexpr uint32_t kStatusFloatInvalidOperation = 0xC0000090;
constexpr uint32_t kStatusFloatOverflow = 0xC0000091;
constexpr uint32_t kStatusFloatStackCheck = 0xC0000092;
constexpr uint32_t kStatusFloatUnderflow = 0xC0000093;
constexpr uint32_t kStatusIntegerDivideByZero = 0xC0000094;
constexpr uint32_t kStatusIntegerOverflow = 0xC0000095;
constexpr uint32_t kStatusPrivilegedInstruction = 0xC0000096;
constexpr uint32_t kStatusStackOverflow = 0xC00000FD;

// EFLAGS.DF: string instructions step downwards while it is set.
constexpr uint32_t kDirectionFlag = 0x400;

constexpr uint8_t kKeepFpu = 0;
constexpr uint8_t kResetFpu = 1;

const FaultTableRow kFaultTable[kFaultTableRowCount] = {
    {kStatusSingleStep, kRuntimeErrorProcessorFault, kKeepFpu},
    {kStatusAccessViolation, kRuntimeErrorAccessViolation, kKeepFpu},
    {kStatusInPageError, kRuntimeErrorProcessorFault, kKeepFpu},
    {kStatusIllegalInstruction, kRuntimeErrorProcessorFault, kKeepFpu},
    {kStatusArrayBoundsExceeded, kRuntimeErrorRangeCheck, kKeepFpu},
    {kStatusFloatDenormalOperand, kRuntimeErrorAccessViolation, kResetFpu},
    {kStatusFloatDivideByZero, kRuntimeErrorDivisionByZero, kResetFpu},
    {kStatusFloatInvalidOperation, kRuntimeErrorInvalidFloatOperation,
     kResetFpu},
    {kStatusFloatOverflow, kRuntimeErrorFloatOverflow, kResetFpu},
    {kStatusFloatStackCheck, kRuntimeErrorInvalidFloatOperation, kResetFpu},
    {kStatusFloatUnderflow, kRuntimeErrorFloatUnderflow, kResetFpu},
    {kStatusIntegerDivideByZero, kRuntimeErrorDivisionByZero, kKeepFpu},
    {kStatusIntegerOverflow, kRuntimeErrorIntegerOverflow, kKeepFpu},
    {kStatusPrivilegedInstruction, kRuntimeErrorProcessorFault, kKeepFpu},
    {kStatusStackOverflow, kRuntimeErrorStackOverflow, kKeepFpu},
};

// A terminal is the one kind of channel whose back-trace is kept short.
constexpr int32_t kDeviceFrameLimit = 8;
constexpr int32_t kFrameLimit = 256;
constexpr uint32_t kFrameRecordSize = 8;  // link, return address
constexpr uint32_t kFrameAlignment = 4;

const char kRuntimeErrorText[] = "Runtime error ";
const char kAtText[] = " at 0x";
const char kBackTracePrefix[] = "  0x";
const char kEmptyText[] = "";
const char kHexDigits[] = "0123456789ABCDEF";
constexpr int kHexDigitCount = 8;
constexpr int kDecimalDigitsMax = 5;  // 65535

void FormatHex(uint32_t value, char *digits) {
  for (int i = kHexDigitCount - 1; i >= 0; --i) {
    digits[i] = kHexDigits[value & 0xF];
    value >>= 4;
  }
  digits[kHexDigitCount] = 0;
}

// A frame is walked only if its whole record lies inside this thread's
// stack: a broken chain ends the back-trace instead of faulting again.
bool FrameIsOnStack(uint32_t frame, uint32_t stackLimit, uint32_t stackBase) {
  return frame % kFrameAlignment == 0 && frame >= stackLimit &&
         frame <= stackBase && stackBase - frame >= kFrameRecordSize;
}

uint32_t ReadWord(uint32_t address) {
  return *reinterpret_cast<const volatile uint32_t *>(uintptr_t{address});
}

}  // namespace

const FaultTableRow *LookUpFault(uint32_t exceptionCode) {
  for (const FaultTableRow &row : kFaultTable)
    if (row.ExceptionCode == exceptionCode) return &row;
  return nullptr;
}

// Runs on the faulting thread, possibly with almost no stack left: it only
// reads the records, pushes one entry and redirects the thread.
int32_t FilterFault(PlatformExceptionPointers *pointers,
                    uint32_t resumeAddress) {
  PlatformExceptionRecord *record = pointers->ExceptionRecord;
  PlatformContext *context = pointers->ContextRecord;
  uint32_t frame = context->SegSs == StartupStackSegment ? context->Ebp : 0;
  const FaultTableRow *row = LookUpFault(record->ExceptionCode);
  if (row == nullptr || frame == 0) return kExceptionContinueSearch;
  if (PendingFaultCount == kPendingFaultCapacity)
    return kExceptionContinueSearch;
  FaultRecord &pending = PendingFaults[PendingFaultCount++];
  pending.Address = context->Eip;
  pending.ErrorNumber = row->ErrorNumber;
  pending.ResetFpu = row->ResetFpu;
  context->Eip = resumeAddress;
  // After a stack overflow there is no room left below the fault for the
  // report and its message box, and a platform need not call every overflow
  // that: the error path always runs on the area start-up kept free. EBP
  // still names the fault's frame, so the back-trace is unchanged, and
  // nothing returns into the frames below.
  if (ErrorPathStackTop != 0) context->Esp = ErrorPathStackTop;
  // The fault may have come inside code that set the direction flag; the
  // error path's string operations count on it being clear.
  context->EFlags &= ~kDirectionFlag;
  record->ExceptionCode = 0;
  return kExceptionContinueExecution;
}

void FormatBackTraceLine(uint32_t address, char line[kBackTraceLineSize]) {
  for (int i = 0; kBackTracePrefix[i] != 0; ++i) line[i] = kBackTracePrefix[i];
  FormatHex(address, line + sizeof kBackTracePrefix - 1);
}

void WriteFrameChain(TextChannel *channel, uint32_t frame) {
  // Handles are 32-bit values, sign-extended where pointers are wider.
  bool device = GetFileType(reinterpret_cast<PlatformHandle>(static_cast<intptr_t>(
                    static_cast<int32_t>(channel->Handle)))) == kFileTypeChar;
  uint32_t stackLimit = ThreadStackLimit();
  uint32_t stackBase = ThreadStackBase();
  char line[kBackTraceLineSize];
  // The first frame is always visited; each later one must lie above the
  // one before, compared as signed numbers.
  for (int32_t count = 1;; ++count) {
    if (frame != 0 && !FrameIsOnStack(frame, stackLimit, stackBase)) break;
    uint32_t returnAddress = frame == 0 ? 0 : ReadWord(frame + 4);
    if (returnAddress != 0) {
      FormatBackTraceLine(returnAddress, line);
      WriteText(channel, line, 0);
      EndLine(channel);
    }
    if ((count > kDeviceFrameLimit && device) || count > kFrameLimit) break;
    uint32_t next = frame == 0 ? 0 : ReadWord(frame);
    if (static_cast<int32_t>(next) <= static_cast<int32_t>(frame)) break;
    frame = next;
  }
}

void WriteFaultReport() {
  char text[kBackTraceLineSize];
  WriteText(&StdOutChannel, kRuntimeErrorText, 0);
  char *digits = text + kDecimalDigitsMax;
  *digits = 0;
  uint32_t number = RuntimeErrorNumber;
  do {
    *--digits = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  WriteText(&StdOutChannel, digits, 0);
  WriteText(&StdOutChannel, kAtText, 0);
  FormatHex(RuntimeErrorAddress, text);
  WriteText(&StdOutChannel, text, 0);
  EndLine(&StdOutChannel);
  FormatBackTraceLine(RuntimeErrorAddress, text);
  WriteText(&StdOutChannel, text, 0);
  EndLine(&StdOutChannel);
  WriteFrameChain(&StdOutChannel, RuntimeErrorFrame);
  WriteText(&StdOutChannel, kEmptyText, 0);
  EndLine(&StdOutChannel);
}

void ReportRuntimeError(uint16_t number, uint32_t address, uint32_t frame) {
  // A fault while the report is written would lead back here for ever.
  if (FaultReportInProgress) ExitProcess(ProcessExitCode);
  RuntimeErrorNumber = number;
  ProcessExitCode = number;
  RuntimeErrorAddress = address;
  RuntimeErrorFrame = frame;
  RunExitSequence();
}
