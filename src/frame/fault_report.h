// From a processor fault to the "Runtime error" report: the fault table,
// the fault filter's decision, the pending-fault stack that hands a fault to
// the resume routine, and the report with its back-trace.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "frame/exception_records.h"
#include "frame/machine_layout.h"
#include "frame/text_channel.h"

struct FaultTableRow {
  uint32_t ExceptionCode;
  uint8_t ErrorNumber;
  uint8_t ResetFpu;
};

// Null when the code is not one the frame reports.
const FaultTableRow *LookUpFault(uint32_t exceptionCode);
constexpr int kFaultTableRowCount = 15;

// Read by the resume routine in assembly, at the offsets machine_layout.h
// gives it.
struct FaultRecord {
  uint32_t Address;
  uint8_t ErrorNumber;
  uint8_t ResetFpu;
};
static_assert(offsetof(FaultRecord, Address) == FAULT_RECORD_ADDRESS, "");
static_assert(offsetof(FaultRecord, ErrorNumber) == FAULT_RECORD_ERROR_NUMBER, "");
static_assert(offsetof(FaultRecord, ResetFpu) == FAULT_RECORD_RESET_FPU, "");
static_assert(sizeof(FaultRecord) == FAULT_RECORD_SIZE, "");

constexpr uint8_t kPendingFaultCapacity = 16;
constexpr uint32_t kErrorPathStackBytes = ERROR_PATH_STACK_PAGES * STACK_PAGE_BYTES;

extern "C" {
extern FaultRecord PendingFaults[kPendingFaultCapacity];
extern uint8_t PendingFaultCount;
// Top of the stack area that start-up keeps free for the error path, which
// is kErrorPathStackBytes long; 0 until start-up has set it aside.
extern uint32_t ErrorPathStackTop;
// The head of the thread's exception-registration chain at start-up, which
// the resume routine puts back.
extern uint32_t StartupExceptionChain;

// The running thread's stack: its lowest committed address and the address
// just above it, from the thread information block.
uint32_t ThreadStackLimit();
uint32_t ThreadStackBase();
}

// The whole decision of the fault filter. `resumeAddress` is where the
// thread continues when the fault is taken.
int32_t FilterFault(PlatformExceptionPointers *pointers,
                    uint32_t resumeAddress);

constexpr uint32_t kBackTraceLineSize = 13;  // "  0x" + 8 digits + zero
void FormatBackTraceLine(uint32_t address, char line[kBackTraceLineSize]);

void WriteFrameChain(TextChannel *channel, uint32_t frame);
void WriteFaultReport();
