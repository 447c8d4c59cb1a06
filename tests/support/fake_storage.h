// A storage manager on malloc that records every request, for tests that
// check what the program asks for. Every block has exactly the size asked
// for, so AddressSanitizer sees any access beyond it.
#pragma once

#include <stdint.h>

#include <vector>

#include "frame/storage.h"

struct StorageRequest {
  bool resize;  // ResizeStorage; otherwise AllocateStorage
  int32_t oldBytes;  // 0 for AllocateStorage
  int32_t newBytes;
};

extern std::vector<StorageRequest> StorageRequests;

// Frees every block handed out so far and clears the record and counters.
void ResetFakeStorage();

// The sizes of the AllocateStorage requests, in order.
std::vector<int32_t> AllocationSizes();
// The new sizes of the ResizeStorage requests, in order.
std::vector<int32_t> ResizeSizes();
