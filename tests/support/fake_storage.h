// A storage manager on malloc that records every request, for tests that
// check what the program asks for. Each block is exactly the size asked for
// as AddressSanitizer sees it: the rest of its power-of-two capacity is
// poisoned. A resize within that capacity keeps the block, so a table that
// grows a slot at a time stays cheap even for megabyte command lines. A
// resize that states another old size than the block has aborts.
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

// Frees every block handed out so far and clears the record.
void ResetFakeStorage();

// The sizes of the AllocateStorage requests, in order.
std::vector<int32_t> AllocationSizes();
// The new sizes of the ResizeStorage requests, in order.
std::vector<int32_t> ResizeSizes();
