#include "fuzz_storage.h"

#include <stdlib.h>
#include <string.h>

#include <sanitizer/asan_interface.h>

#include <unordered_map>

std::vector<int32_t> FuzzAllocationSizes;
std::vector<int32_t> FuzzResizeSizes;

namespace {

constexpr size_t kSmallestCapacity = 16;

// Block -> capacity. Never destroyed, so blocks stay reachable at exit.
std::unordered_map<void *, size_t> &Capacities = *new std::unordered_map<void *, size_t>;

size_t CapacityFor(size_t bytes) {
  size_t capacity = kSmallestCapacity;
  while (capacity < bytes) capacity *= 2;
  return capacity;
}

size_t Usable(int32_t bytes) { return bytes > 0 ? static_cast<size_t>(bytes) : 0; }

void *NewBlock(int32_t bytes) {
  const size_t capacity = CapacityFor(Usable(bytes));
  void *block = malloc(capacity);
  if (!block) abort();
  ASAN_POISON_MEMORY_REGION(static_cast<char *>(block) + Usable(bytes),
                            capacity - Usable(bytes));
  Capacities[block] = capacity;
  return block;
}

void FreeBlock(void *block) {
  auto found = Capacities.find(block);
  if (found == Capacities.end()) abort();  // not a block of ours
  ASAN_UNPOISON_MEMORY_REGION(block, found->second);
  Capacities.erase(found);
  free(block);
}

}  // namespace

void *AllocateStorage(int32_t bytes) {
  FuzzAllocationSizes.push_back(bytes);
  return NewBlock(bytes);
}

void *ResizeStorage(void *block, int32_t oldBytes, int32_t newBytes) {
  FuzzResizeSizes.push_back(newBytes);
  if (!block) return NewBlock(newBytes);
  auto found = Capacities.find(block);
  if (found == Capacities.end()) abort();
  const size_t capacity = found->second;
  if (Usable(newBytes) <= capacity && CapacityFor(Usable(newBytes)) == capacity) {
    ASAN_UNPOISON_MEMORY_REGION(block, Usable(newBytes));
    ASAN_POISON_MEMORY_REGION(static_cast<char *>(block) + Usable(newBytes),
                              capacity - Usable(newBytes));
    return block;
  }
  void *moved = NewBlock(newBytes);
  const size_t keep = Usable(oldBytes < newBytes ? oldBytes : newBytes);
  memcpy(moved, block, keep);
  FreeBlock(block);
  return moved;
}

void ResetFuzzStorage() {
  while (!Capacities.empty()) FreeBlock(Capacities.begin()->first);
  FuzzAllocationSizes.clear();
  FuzzResizeSizes.clear();
}
