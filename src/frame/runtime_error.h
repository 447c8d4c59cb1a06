// Run-time error numbers and the one path that reports them.
#pragma once

#include <stdint.h>

// Every run-time error number the process can end with. The fault table
// maps processor faults onto these; storage exhaustion is the one error
// that is not a fault.
constexpr uint16_t kRuntimeErrorDivisionByZero = 200;
constexpr uint16_t kRuntimeErrorRangeCheck = 201;
constexpr uint16_t kRuntimeErrorStackOverflow = 202;
constexpr uint16_t kRuntimeErrorStorageExhausted = 203;
constexpr uint16_t kRuntimeErrorFloatOverflow = 205;
constexpr uint16_t kRuntimeErrorFloatUnderflow = 206;
constexpr uint16_t kRuntimeErrorInvalidFloatOperation = 207;
constexpr uint16_t kRuntimeErrorIntegerOverflow = 215;
constexpr uint16_t kRuntimeErrorAccessViolation = 216;
constexpr uint16_t kRuntimeErrorProcessorFault = 217;

// Records the error, writes the report through the exit sequence and ends
// the process with exit code `number`. Never returns. C linkage: the
// resume routine calls it from assembly.
extern "C" [[noreturn]] void ReportRuntimeError(uint16_t number,
                                                uint32_t address,
                                                uint32_t frame);
