// Run-time error numbers and the one path that reports them.
#pragma once

#include <stdint.h>

constexpr uint16_t kRuntimeErrorStorageExhausted = 203;

// Records the error, writes the report through the exit sequence and ends
// the process with exit code `number`. Never returns.
[[noreturn]] void ReportRuntimeError(uint16_t number, uint32_t address,
                                     uint32_t frame);
