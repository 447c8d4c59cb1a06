// Blocks are carved one after the other from 64 KiB chunks of platform
// memory, and nothing is given back: the process ends soon after. Each
// block is preceded by its capacity. A resize within it keeps the block
// where it is; one beyond it moves the block to one of twice the size
// asked for, so the argument table, which grows by a few slots at a time,
// moves only a few times.
#include "frame/storage.h"

#include "frame/runtime_error.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kChunkBytes = 64 * 1024;
constexpr uint32_t kAlignment = 8;
// One alignment unit, so that the block after it stays aligned.
constexpr uint32_t kHeaderBytes = kAlignment;
// Sizes up to this are doubled when a block moves; the sum of header and
// capacity then stays below 2^32.
constexpr uint32_t kLargestDoubled = 0x3FFFFFFF;

char *ChunkNext;
uint32_t ChunkLeft;

uint32_t &CapacityOf(void *block) {
  return *reinterpret_cast<uint32_t *>(static_cast<char *>(block) - kHeaderBytes);
}

uint32_t SizeOf(int32_t bytes) { return bytes > 0 ? static_cast<uint32_t>(bytes) : 1; }

// The address its call returns to, in the caller's code. Never inlined, so
// that there is a call and that address is the caller's.
__attribute__((noinline)) uint32_t CallerAddress() {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

// The one place that asks the platform for memory, so exhaustion is
// reported with an address in this routine and its frame.
__attribute__((noinline)) char *ObtainPlatformMemory(uint32_t bytes) {
  PlatformHandle handle = GlobalAlloc(kGmemMoveable, bytes);
  void *memory = handle ? GlobalLock(handle) : nullptr;
  if (!memory)
    ReportRuntimeError(kRuntimeErrorStorageExhausted, CallerAddress(),
                       static_cast<uint32_t>(
                           reinterpret_cast<uintptr_t>(__builtin_frame_address(0))));
  return static_cast<char *>(memory);
}

// `bytes` is at most 2^31. A block that does not fit the rest of the chunk
// starts a new one, as large as it needs; that rest is left unused.
void *Carve(uint32_t bytes) {
  uint32_t capacity = (bytes + kAlignment - 1) & ~(kAlignment - 1);
  uint32_t need = kHeaderBytes + capacity;
  if (ChunkLeft < need) {
    ChunkLeft = need > kChunkBytes ? need : kChunkBytes;
    ChunkNext = ObtainPlatformMemory(ChunkLeft);
  }
  char *block = ChunkNext + kHeaderBytes;
  CapacityOf(block) = capacity;
  ChunkNext += need;
  ChunkLeft -= need;
  return block;
}

}  // namespace

void PrepareStorage() {
  ChunkNext = nullptr;
  ChunkLeft = 0;
}

void *AllocateStorage(int32_t bytes) { return Carve(SizeOf(bytes)); }

void *ResizeStorage(void *block, int32_t, int32_t newBytes) {
  uint32_t size = SizeOf(newBytes);
  if (block == nullptr) return Carve(size);
  uint32_t capacity = CapacityOf(block);
  if (size <= capacity) return block;
  char *moved = static_cast<char *>(Carve(size <= kLargestDoubled ? 2 * size : size));
  const char *from = static_cast<const char *>(block);
  for (uint32_t i = 0; i < capacity; ++i) moved[i] = from[i];
  return moved;
}
