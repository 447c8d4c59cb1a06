// Blocks come in power-of-two size classes. A run allocates a few short
// texts and one growing table, so small blocks are carved from arenas, a
// block given back by ResizeStorage is kept on its class's free list, and a
// resize within the same class keeps the block where it is. Nothing is ever
// returned to the platform: the process ends soon after.
#include "frame/storage.h"

#include "frame/runtime_error.h"
#include "platform/platform.h"

uint32_t StorageBlockCount;
uint32_t StorageRequestedBytes;

namespace {

constexpr uint32_t kSmallestClassShift = 4;
constexpr uint32_t kClassCount = 32;
constexpr uint32_t kArenaBytes = 64 * 1024;

struct FreeBlock {
  FreeBlock *next;
};

FreeBlock *FreeBlocks[kClassCount];
char *ArenaNext;
uint32_t ArenaLeft;

uint32_t SizeClassOf(uint32_t bytes) {
  uint32_t shift = kSmallestClassShift;
  while (shift < kClassCount - 1 && (uint32_t{1} << shift) < bytes) ++shift;
  return shift;
}

// The one place that asks the platform for memory, so exhaustion is
// reported with this routine's address and frame.
__attribute__((noinline)) char *ObtainPlatformMemory(uint32_t bytes) {
  PlatformHandle handle = GlobalAlloc(kGmemMoveable, bytes);
  void *memory = handle ? GlobalLock(handle) : nullptr;
  if (!memory) {
  exhausted:
    ReportRuntimeError(
        kRuntimeErrorStorageExhausted,
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&&exhausted)),
        static_cast<uint32_t>(
            reinterpret_cast<uintptr_t>(__builtin_frame_address(0))));
  }
  return static_cast<char *>(memory);
}

void *TakeBlock(uint32_t shift) {
  if (FreeBlock *reused = FreeBlocks[shift]) {
    FreeBlocks[shift] = reused->next;
    return reused;
  }
  uint32_t bytes = uint32_t{1} << shift;
  if (bytes > kArenaBytes / 2) return ObtainPlatformMemory(bytes);
  if (ArenaLeft < bytes) {
    // The tail of the old arena is dropped; it is smaller than any block
    // that could not be carved from it.
    ArenaNext = ObtainPlatformMemory(kArenaBytes);
    ArenaLeft = kArenaBytes;
  }
  char *block = ArenaNext;
  ArenaNext += bytes;
  ArenaLeft -= bytes;
  return block;
}

}  // namespace

void PrepareStorage() {
  for (FreeBlock *&head : FreeBlocks) head = nullptr;
  ArenaNext = nullptr;
  ArenaLeft = 0;
  StorageBlockCount = 0;
  StorageRequestedBytes = 0;
}

void *AllocateStorage(int32_t bytes) {
  uint32_t size = bytes > 0 ? static_cast<uint32_t>(bytes) : 1;
  ++StorageBlockCount;
  StorageRequestedBytes += size;
  return TakeBlock(SizeClassOf(size));
}

void *ResizeStorage(void *block, int32_t oldBytes, int32_t newBytes) {
  if (block == nullptr) return AllocateStorage(newBytes);
  uint32_t oldShift = SizeClassOf(oldBytes > 0 ? uint32_t(oldBytes) : 1);
  uint32_t newSize = newBytes > 0 ? static_cast<uint32_t>(newBytes) : 1;
  if (SizeClassOf(newSize) == oldShift) return block;
  char *moved = static_cast<char *>(AllocateStorage(newBytes));
  uint32_t keep = newSize < uint32_t(oldBytes) ? newSize : uint32_t(oldBytes);
  const char *from = static_cast<const char *>(block);
  for (uint32_t i = 0; i < keep; ++i) moved[i] = from[i];
  FreeBlock *freed = static_cast<FreeBlock *>(block);
  freed->next = FreeBlocks[oldShift];
  FreeBlocks[oldShift] = freed;
  return moved;
}
