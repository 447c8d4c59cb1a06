#include "fake_storage.h"

#include <stdlib.h>
#include <string.h>

#include <unordered_set>

#include "frame/runtime_error.h"

uint32_t StorageBlockCount;
uint32_t StorageRequestedBytes;
std::vector<StorageRequest> StorageRequests;

namespace {

std::unordered_set<void *> LiveBlocks;

void *TakeBlock(int32_t bytes) {
  uint32_t size = bytes > 0 ? static_cast<uint32_t>(bytes) : 1;
  ++StorageBlockCount;
  StorageRequestedBytes += size;
  void *block = malloc(size);
  if (!block) ReportRuntimeError(kRuntimeErrorStorageExhausted, 0, 0);
  LiveBlocks.insert(block);
  return block;
}

}  // namespace

// Start-up's call: the counters start again, and blocks already handed out
// stay valid until ResetFakeStorage.
void PrepareStorage() {
  StorageBlockCount = 0;
  StorageRequestedBytes = 0;
}

void *AllocateStorage(int32_t bytes) {
  StorageRequests.push_back({false, 0, bytes});
  return TakeBlock(bytes);
}

void *ResizeStorage(void *block, int32_t oldBytes, int32_t newBytes) {
  StorageRequests.push_back({true, oldBytes, newBytes});
  void *moved = TakeBlock(newBytes);
  if (block) {
    int32_t keep = oldBytes < newBytes ? oldBytes : newBytes;
    if (keep > 0) memcpy(moved, block, static_cast<size_t>(keep));
    // Always a new block, so a stale pointer to the old one is caught.
    LiveBlocks.erase(block);
    free(block);
  }
  return moved;
}

void ResetFakeStorage() {
  for (void *block : LiveBlocks) free(block);
  LiveBlocks.clear();
  StorageRequests.clear();
  StorageBlockCount = 0;
  StorageRequestedBytes = 0;
}

std::vector<int32_t> AllocationSizes() {
  std::vector<int32_t> sizes;
  for (const StorageRequest &request : StorageRequests)
    if (!request.resize) sizes.push_back(request.newBytes);
  return sizes;
}

std::vector<int32_t> ResizeSizes() {
  std::vector<int32_t> sizes;
  for (const StorageRequest &request : StorageRequests)
    if (request.resize) sizes.push_back(request.newBytes);
  return sizes;
}
