#include "fake_storage.h"

#include <stdlib.h>
#include <string.h>

#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#else  // MinGW, for the benchmark's storage census
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

#include <unordered_map>

#include "frame/runtime_error.h"

std::vector<StorageRequest> StorageRequests;

namespace {

constexpr size_t kSmallestCapacity = 16;

struct Block {
  size_t capacity;
  int32_t bytes;  // as last asked for
};
// Never destroyed, so blocks stay reachable at exit.
std::unordered_map<void *, Block> &Blocks = *new std::unordered_map<void *, Block>;

size_t CapacityFor(size_t bytes) {
  size_t capacity = kSmallestCapacity;
  while (capacity < bytes) capacity *= 2;
  return capacity;
}

size_t Usable(int32_t bytes) { return bytes > 0 ? static_cast<size_t>(bytes) : 0; }

// Only the first `bytes` of the block may be touched.
void Fit(void *block, size_t capacity, size_t bytes) {
  ASAN_UNPOISON_MEMORY_REGION(block, bytes);
  ASAN_POISON_MEMORY_REGION(static_cast<char *>(block) + bytes, capacity - bytes);
}

void *NewBlock(int32_t bytes) {
  const size_t capacity = CapacityFor(Usable(bytes));
  void *block = malloc(capacity);
  if (!block) ReportRuntimeError(kRuntimeErrorStorageExhausted, 0, 0);
  Fit(block, capacity, Usable(bytes));
  Blocks[block] = {capacity, bytes};
  return block;
}

Block &Live(void *block) {
  auto found = Blocks.find(block);
  if (found == Blocks.end()) abort();  // not a live block of ours
  return found->second;
}

void FreeBlock(void *block) {
  ASAN_UNPOISON_MEMORY_REGION(block, Live(block).capacity);
  Blocks.erase(block);
  free(block);
}

}  // namespace

void *AllocateStorage(int32_t bytes) {
  StorageRequests.push_back({false, 0, bytes});
  return NewBlock(bytes);
}

void *ResizeStorage(void *block, int32_t oldBytes, int32_t newBytes) {
  StorageRequests.push_back({true, oldBytes, newBytes});
  if (!block) return NewBlock(newBytes);
  Block &live = Live(block);
  if (live.bytes != oldBytes) abort();  // the caller lost track of the size
  if (CapacityFor(Usable(newBytes)) == live.capacity) {
    Fit(block, live.capacity, Usable(newBytes));
    live.bytes = newBytes;
    return block;
  }
  void *moved = NewBlock(newBytes);
  memcpy(moved, block, Usable(oldBytes < newBytes ? oldBytes : newBytes));
  FreeBlock(block);
  return moved;
}

void ResetFakeStorage() {
  while (!Blocks.empty()) FreeBlock(Blocks.begin()->first);
  StorageRequests.clear();
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
