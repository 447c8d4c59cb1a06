// Test-only dispatch for corvane-faults.exe: argument 1 names a fault to
// raise from the program's own code, for what a fault inside a platform
// call cannot show (test_faults.py runs those against corvane.exe itself).
// A few modes also replace an import to look at the process while the
// report is shown; they show what they saw in a second box captioned
// "Probe".
//
// Under a user-mode i386 emulator Wine cannot tell which processor fault
// came (known_differences.py, EMULATED_FAULT_CODES and EMULATED_X87_NO_TRAP).
// A vectored handler therefore puts back the code that x86 hardware gives
// for the one fault each mode raises, before the frame's filter sees it.
// Where Wine already reports that code it changes nothing.
#include <stdint.h>

#include "cmdline/argument_list.h"
#include "dispatch/dispatch.h"
#include "frame/fault_report.h"
#include "frame/storage.h"
#include "platform/platform.h"

extern "C" {
__declspec(dllimport) int32_t __stdcall VirtualProtect(void *address,
                                                      uint32_t size,
                                                      uint32_t protection,
                                                      uint32_t *old);
__declspec(dllimport) void *__stdcall AddVectoredExceptionHandler(
    uint32_t first, PlatformExceptionFilter handler);
__declspec(dllimport) void __stdcall RaiseException(uint32_t code,
                                                   uint32_t flags,
                                                   uint32_t count,
                                                   const uint32_t *arguments);
}

#pragma GCC diagnostic ignored "-Winfinite-recursion"

namespace {

typedef int32_t(__stdcall *MessageBoxRoutine)(PlatformHandle, const char *,
                                               const char *, uint32_t);
typedef uint32_t(__stdcall *GetFileTypeRoutine)(PlatformHandle);
// The import address table slots through which the frame calls these.
extern "C" MessageBoxRoutine ImportedMessageBoxA asm("__imp__MessageBoxA@16");
extern "C" GetFileTypeRoutine ImportedGetFileType asm("__imp__GetFileType@4");

// The slot shares its page with code.
constexpr uint32_t kPageExecuteReadWrite = 0x40;
constexpr uint16_t kProbeControlWord = 0x027B;  // only zero-divide unmasked
constexpr int32_t kDeepRecursion = 300;
// Above every stack and not mapped: read through, it would fault again.
constexpr uint32_t kFarLink = 0x7FFF0000;
constexpr uint32_t kDirectionFlag = 0x400;
constexpr int32_t kExceptionContinueSearchDisposition = 1;

constexpr uint32_t kStatusAccessViolation = 0xC0000005;
constexpr uint32_t kStatusIllegalInstruction = 0xC000001D;
constexpr uint32_t kStatusFloatDivideByZero = 0xC000008E;
constexpr uint32_t kStatusFloatFirst = 0xC000008D;
constexpr uint32_t kStatusFloatLast = 0xC0000093;
constexpr uint32_t kStatusIntegerDivideByZero = 0xC0000094;
constexpr uint32_t kStatusIntegerOverflow = 0xC0000095;
constexpr uint32_t kStatusStackOverflow = 0xC00000FD;

// EXCEPTION_REGISTRATION_RECORD: one link of the chain that fs:[0] heads.
struct ExceptionRegistration {
  uint32_t Next;
  int32_t(__cdecl *Handler)(void *, void *, void *, void *);
};

MessageBoxRoutine RealMessageBoxA;
GetFileTypeRoutine RealGetFileType;
// The chain head when the dispatch began, which is still the start-up one;
// the record registered before the fault; how often its handler was called.
uint32_t DispatchExceptionChain;
uint32_t RegisteredRecord;
uint32_t HandlerCalls;
// EFLAGS in the faulting context, and at the error path's first platform
// call (the report's GetFileType), before any system code can change them.
uint32_t FaultFlags;
uint32_t ErrorPathFlags;
bool ErrorPathFlagsSeen;
// The code x86 hardware reports for the fault about to be raised; 0 once
// it has been handed on.
uint32_t ArchitecturalCode;
char ProbeText[128];

bool Is(const char *a, const char *b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

char *PutText(char *out, const char *text) {
  while (*text) *out++ = *text++;
  return out;
}

char *PutHex(char *out, uint32_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i)
    *out++ = "0123456789ABCDEF"[(value >> (4 * i)) & 0xF];
  return out;
}

// Puts `replacement` in an import address table slot; returns what was there.
template <typename Routine>
Routine ReplaceImport(Routine &slot, Routine replacement) {
  uint32_t old;
  VirtualProtect(&slot, sizeof slot, kPageExecuteReadWrite, &old);
  Routine real = slot;
  slot = replacement;
  return real;
}

void ReplaceMessageBox(MessageBoxRoutine replacement) {
  RealMessageBoxA = ReplaceImport(ImportedMessageBoxA, replacement);
}

// The codes Wine makes up for a fault whose trap number it does not get.
bool IsEmulationGuess(uint32_t code) {
  return code == kStatusIllegalInstruction ||
         (code >= kStatusFloatFirst && code <= kStatusFloatLast);
}

int32_t __stdcall RestoreArchitecturalCode(PlatformExceptionPointers *pointers) {
  uint32_t &code = pointers->ExceptionRecord->ExceptionCode;
  FaultFlags = pointers->ContextRecord->EFlags;
  if (ArchitecturalCode != 0 && code != ArchitecturalCode &&
      IsEmulationGuess(code))
    code = ArchitecturalCode;
  ArchitecturalCode = 0;
  return kExceptionContinueSearch;
}

void Expect(uint32_t code) {
  ArchitecturalCode = code;
  AddVectoredExceptionHandler(1, RestoreArchitecturalCode);
}

void ShowProbe() { RealMessageBoxA(nullptr, ProbeText, "Probe", 0); }

// Records the x87 state the report is written with.
int32_t __stdcall MessageBoxProbingFpu(PlatformHandle owner, const char *text,
                                       const char *caption, uint32_t style) {
  uint16_t control, status;
  asm volatile("fnstcw %0\n\tfnstsw %1" : "=m"(control), "=m"(status));
  int32_t result = RealMessageBoxA(owner, text, caption, style);
  char *out = PutText(ProbeText, "fpu control ");
  out = PutHex(out, control, 4);
  out = PutText(out, " status ");
  *PutHex(out, status, 4) = 0;
  ShowProbe();
  return result;
}

uint32_t ExceptionChain() {
  uint32_t head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

uint32_t __stdcall GetFileTypeProbingFlags(PlatformHandle handle) {
  uint32_t flags;
  asm volatile("pushfl\n\tpopl %0" : "=r"(flags));
  if (!ErrorPathFlagsSeen) ErrorPathFlags = flags;
  ErrorPathFlagsSeen = true;
  return RealGetFileType(handle);
}

// Records the exception-registration chain head the error path runs with,
// and the direction flag at the fault and in the error path.
int32_t __stdcall MessageBoxProbingThreadState(PlatformHandle owner,
                                               const char *text,
                                               const char *caption,
                                               uint32_t style) {
  uint32_t head = ExceptionChain();
  int32_t result = RealMessageBoxA(owner, text, caption, style);
  char *out = PutText(ProbeText, "chain ");
  out = PutHex(out, head, 8);
  out = PutText(out, " start-up ");
  out = PutHex(out, DispatchExceptionChain, 8);
  out = PutText(out, " record ");
  out = PutHex(out, RegisteredRecord, 8);
  out = PutText(out, " calls ");
  out = PutHex(out, HandlerCalls, 2);
  out = PutText(out, " direction ");
  out = PutHex(out, (FaultFlags & kDirectionFlag) != 0, 1);
  out = PutText(out, " then ");
  *PutHex(out, (ErrorPathFlags & kDirectionFlag) != 0, 1) = 0;
  ShowProbe();
  return result;
}

// Records how deep into the error path's stack area the report went.
int32_t __stdcall MessageBoxProbingStack(PlatformHandle owner,
                                         const char *text,
                                         const char *caption, uint32_t style) {
  int32_t result = RealMessageBoxA(owner, text, caption, style);
  const uint32_t *word =
      reinterpret_cast<const uint32_t *>(ErrorPathStackTop - kErrorPathStackBytes);
  while (*word == 0) ++word;
  uint32_t used = ErrorPathStackTop - reinterpret_cast<uint32_t>(word);
  char *out = PutText(ProbeText, "stack used ");
  out = PutHex(out, used, 8);
  out = PutText(out, " of ");
  *PutHex(out, kErrorPathStackBytes, 8) = 0;
  ShowProbe();
  return result;
}

// A fault inside the report itself.
int32_t __stdcall MessageBoxFaulting(PlatformHandle, const char *,
                                     const char *, uint32_t) {
  asm volatile("movl $0, 0" ::: "memory");
  return 0;
}

__attribute__((noinline)) int32_t DivideByZero() {
  // Stored through the frame, so the frame is still there when idiv faults.
  volatile int32_t dividend = 7, zero = 0, quotient = dividend / zero;
  return quotient;
}

__attribute__((noinline)) void FloatDivideByZero() {
  uint16_t control = kProbeControlWord;
  asm volatile(
      "fldcw %0\n\t"
      "fld1\n\t"
      "fldz\n\t"
      "fdivrp\n\t"
      "fwait\n\t"
      "fstp %%st(0)" ::"m"(control));
  // Only reached where x87 exceptions do not trap: raise what the fwait
  // would have, with the exception still pending in the unit.
  ArchitecturalCode = 0;
  RaiseException(kStatusFloatDivideByZero, 0, 0, nullptr);
}

// A routine that uses no stack gets no frame record, and then its caller
// would be missing from the back-trace: these keep one on purpose.
#define KEEP_FRAME volatile int32_t frameKeeper = 0; (void)frameKeeper

__attribute__((noinline)) void OverflowTrap() {
  KEEP_FRAME;
  asm volatile(
      "movl $0x7FFFFFFF, %%eax\n\t"
      "addl $1, %%eax\n\t"
      "into" ::: "eax", "cc");
}

__attribute__((noinline)) int32_t RunAway(int32_t depth) {
  volatile char room[64];
  room[0] = static_cast<char>(depth);
  return RunAway(depth + 1) + room[0];
}

// Read at run time, so the compiler cannot tell the call faults.
void (*volatile NullRoutine)() = nullptr;

__attribute__((noinline)) void CallNullRoutine() {
  KEEP_FRAME;
  NullRoutine();
  asm volatile("");  // not a tail call: this frame stays on the chain
}

int32_t Recurse(int32_t depth);
// Called through a pointer the compiler cannot see through, so that every
// level keeps its own frame.
int32_t (*volatile RecurseAgain)(int32_t) = Recurse;

__attribute__((noinline)) int32_t Recurse(int32_t depth) {
  if (depth == 0) asm volatile("movl $0, 0" ::: "memory");
  return RecurseAgain(depth - 1) + 1;
}

// Passes every exception on, as a system routine's handler does with one
// that is not its own.
int32_t __cdecl PassOn(void *, void *, void *, void *) {
  ++HandlerCalls;
  return kExceptionContinueSearchDisposition;
}

// Faults inside a frame that has registered its own exception record, as
// system code does, optionally with the direction flag set. Windows would
// not call a handler inside an image marked NO_SEH, as this one is; Wine
// does not check, and system code's handlers live in system DLLs anyway.
__attribute__((noinline)) void FaultInRegisteredFrame(bool setDirection) {
  ExceptionRegistration record = {ExceptionChain(), PassOn};
  RegisteredRecord = reinterpret_cast<uint32_t>(&record);
  asm volatile("movl %0, %%fs:0" ::"r"(&record) : "memory");
  if (setDirection) asm volatile("std");
  asm volatile("movl $0, 0" ::: "memory");
}

// Overwrites this frame's link to its caller, then faults.
__attribute__((noinline)) void CorruptChain(uint32_t link) {
  uint32_t *frame = static_cast<uint32_t *>(__builtin_frame_address(0));
  *reinterpret_cast<volatile uint32_t *>(frame) = link;
  asm volatile("movl $0, 0" ::: "memory");
}

}  // namespace

uint16_t RunDispatch() {
  const char *mode = GetArgument(1);
  if (Is(mode, "null-call")) {
    Expect(kStatusAccessViolation);
    CallNullRoutine();
  }
  if (Is(mode, "fpdiv")) {
    Expect(kStatusFloatDivideByZero);
    ReplaceMessageBox(MessageBoxProbingFpu);
    FloatDivideByZero();
  }
  if (Is(mode, "into")) {
    Expect(kStatusIntegerOverflow);
    OverflowTrap();
  }
  if (Is(mode, "stack")) {
    Expect(kStatusStackOverflow);
    ReplaceMessageBox(MessageBoxProbingStack);
    return static_cast<uint16_t>(RunAway(0));
  }
  if (Is(mode, "deep")) {
    Expect(kStatusAccessViolation);
    return static_cast<uint16_t>(Recurse(kDeepRecursion));
  }
  if (Is(mode, "corrupt-far") || Is(mode, "corrupt-odd")) {
    Expect(kStatusAccessViolation);
    uint32_t frame = reinterpret_cast<uint32_t>(__builtin_frame_address(0));
    CorruptChain(Is(mode, "corrupt-far") ? kFarLink : frame + 2);
  }
  if (Is(mode, "storage")) AllocateStorage(0x7FFFFFFF);
  if (Is(mode, "registered") || Is(mode, "registered-std")) {
    Expect(kStatusAccessViolation);
    ReplaceMessageBox(MessageBoxProbingThreadState);
    RealGetFileType = ReplaceImport(ImportedGetFileType, GetFileTypeProbingFlags);
    DispatchExceptionChain = ExceptionChain();
    FaultInRegisteredFrame(Is(mode, "registered-std"));
  }
  if (Is(mode, "report-fault")) {
    Expect(kStatusIntegerDivideByZero);
    ReplaceMessageBox(MessageBoxFaulting);
    return static_cast<uint16_t>(DivideByZero());
  }
  return 0;
}
