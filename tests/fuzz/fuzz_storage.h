// A storage manager for fuzzing the argument list with long command lines.
// Like the real one it resizes in place within a power-of-two capacity, so
// growing the table stays cheap; unlike it, every byte past the size asked
// for is poisoned, so AddressSanitizer still sees any access beyond a
// block, and every request is recorded.
#pragma once

#include <stdint.h>

#include <vector>

#include "frame/storage.h"

// Sizes asked of AllocateStorage and new sizes asked of ResizeStorage, in
// order.
extern std::vector<int32_t> FuzzAllocationSizes;
extern std::vector<int32_t> FuzzResizeSizes;

// Frees every block and clears the record.
void ResetFuzzStorage();
