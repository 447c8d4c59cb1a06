#include "frame/storage.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "fake_platform.h"
#include "frame/process_frame.h"
#include "frame_test_support.h"

namespace {

constexpr uintptr_t kAlignment = 8;
constexpr uint32_t kGmemMoveableFlag = 2;
constexpr int32_t kLargeBlockBytes = 200000;

class StorageTest : public testing::Test {
 protected:
  void SetUp() override { ResetFrame(); }
  void TearDown() override { ResetFrame(); }
};

void Fill(void *block, int32_t bytes, unsigned seed) {
  unsigned char *p = static_cast<unsigned char *>(block);
  for (int32_t i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(seed + i * 7);
}

bool Holds(const void *block, int32_t bytes, unsigned seed) {
  const unsigned char *p = static_cast<const unsigned char *>(block);
  for (int32_t i = 0; i < bytes; ++i)
    if (p[i] != static_cast<unsigned char>(seed + i * 7)) return false;
  return true;
}

bool Aligned(const void *block) {
  return reinterpret_cast<uintptr_t>(block) % kAlignment == 0;
}

int PlatformRequests() {
  int requests = 0;
  for (const FakeCall &call : FakeCalls) requests += call.function == "GlobalAlloc";
  return requests;
}

TEST_F(StorageTest, BlocksAreAlignedAndDoNotOverlap) {
  // Enough blocks to use several arenas, and a few served on their own.
  std::vector<std::pair<void *, int32_t>> blocks;
  for (int32_t i = 0; i < 3000; ++i) {
    int32_t bytes = i % 37 == 0 ? 40000 + i : i % 301;
    void *block = AllocateStorage(bytes);
    ASSERT_NE(block, nullptr);
    ASSERT_TRUE(Aligned(block)) << "block " << i << " of " << bytes << " bytes";
    Fill(block, bytes, unsigned(i));
    blocks.push_back({block, bytes});
  }
  for (size_t i = 0; i < blocks.size(); ++i)
    ASSERT_TRUE(Holds(blocks[i].first, blocks[i].second, unsigned(i))) << "block " << i;
}

TEST_F(StorageTest, ZeroAndNegativeSizesGiveDistinctBlocks) {
  void *zero = AllocateStorage(0);
  void *negative = AllocateStorage(-5);
  ASSERT_NE(zero, nullptr);
  ASSERT_NE(negative, nullptr);
  EXPECT_NE(zero, negative);
  *static_cast<char *>(zero) = 1;
  *static_cast<char *>(negative) = 2;
  EXPECT_EQ(*static_cast<char *>(zero), 1);
}

TEST_F(StorageTest, ResizeKeepsContents) {
  struct Row {
    int32_t from;
    int32_t to;
  };
  const Row rows[] = {
      {10, 1000}, {1000, 10},  {10, 12},       {16, 17},  {100, 100},
      {1, 65536}, {65536, 3},  {40000, 50000}, {8, 0},    {300, 299},
  };
  for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    void *block = AllocateStorage(rows[i].from);
    Fill(block, rows[i].from, 99);
    void *resized = ResizeStorage(block, rows[i].from, rows[i].to);
    ASSERT_NE(resized, nullptr);
    EXPECT_TRUE(Aligned(resized));
    EXPECT_TRUE(Holds(resized, std::min(rows[i].from, rows[i].to), 99));
    // The whole new size is usable, and nothing else shares it.
    void *neighbour = AllocateStorage(rows[i].to);
    Fill(neighbour, rows[i].to, 5);
    Fill(resized, rows[i].to, 77);
    EXPECT_TRUE(Holds(neighbour, rows[i].to, 5));
    EXPECT_TRUE(Holds(resized, rows[i].to, 77));
  }
}

TEST_F(StorageTest, ResizeOfNullAllocates) {
  void *block = ResizeStorage(nullptr, 0, 24);
  ASSERT_NE(block, nullptr);
  Fill(block, 24, 3);
  EXPECT_TRUE(Holds(block, 24, 3));
}

TEST_F(StorageTest, GrowingTableKeepsEveryEntry) {
  // The argument table's pattern: grow by 8 slots, then fit the count. The
  // most words a 32,767-character command line can hold; a table that left
  // a copy behind at every step would take hundreds of chunks.
  const int32_t slotBytes = sizeof(char *);
  char **table = nullptr;
  int32_t slots = 0;
  const int32_t kEntries = 16384;
  for (int32_t i = 0; i < kEntries; ++i) {
    if (slots <= i) {
      int32_t grown = (i + 8) / 8 * 8;
      table = static_cast<char **>(ResizeStorage(table, slots * slotBytes, grown * slotBytes));
      slots = grown;
    }
    table[i] = static_cast<char *>(AllocateStorage(4));
    *table[i] = static_cast<char>(i);
  }
  table = static_cast<char **>(ResizeStorage(table, slots * slotBytes, (kEntries + 1) * slotBytes));
  for (int32_t i = 0; i < kEntries; ++i)
    ASSERT_EQ(*table[i], static_cast<char>(i)) << "entry " << i;
  EXPECT_LE(PlatformRequests(), 16);
}

TEST_F(StorageTest, SmallBlocksShareOnePlatformRequest) {
  for (int i = 0; i < 100; ++i) AllocateStorage(i);
  EXPECT_EQ(PlatformRequests(), 1);
}

TEST_F(StorageTest, PlatformMemoryIsLockedBeforeUse) {
  AllocateStorage(kLargeBlockBytes);
  std::vector<FakeCall> calls = FakeCalls;
  ASSERT_GE(calls.size(), 2u);
  for (size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(DescribeCall(calls[i]));
    if (calls[i].function != "GlobalAlloc") continue;
    EXPECT_EQ(calls[i].arguments.at(0), std::to_string(kGmemMoveableFlag));
    ASSERT_LT(i + 1, calls.size());
    EXPECT_EQ(calls[i + 1].function, "GlobalLock");
  }
  EXPECT_GE(std::stoull(calls[0].arguments.at(1)), uint64_t(kLargeBlockBytes));
}

TEST_F(StorageTest, ExhaustionIsRuntimeError203) {
  struct Row {
    bool allocFails;
    bool lockFails;
  };
  const Row rows[] = {{true, false}, {false, true}};
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    ResetFrame();
    FakePlatform.globalAllocsBeforeFailure = rows[i].allocFails ? 0 : -1;
    FakePlatform.globalLockFails = rows[i].lockFails;
    // Larger than any chunk, so the platform is always asked.
    EXPECT_EQ(RunToExit([] { AllocateStorage(1 << 20); }), 203u);
    EXPECT_EQ(RuntimeErrorNumber, 203);
    EXPECT_NE(RuntimeErrorAddress, 0u);
    EXPECT_NE(RuntimeErrorFrame, 0u);
  }
  // After the platform recovers, storage works again.
  ResetFrame();
  EXPECT_NE(AllocateStorage(1 << 20), nullptr);
}

}  // namespace
