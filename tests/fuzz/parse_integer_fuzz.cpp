// ParseInteger on any bytes: number and status as the reference model says,
// no read beyond the characters it keeps, no allocation, text unchanged.
// Linked without a storage manager, so a call into one would not link.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "cmdline/parse_integer.h"
#include "fuzz_check.h"
#include "reference_model.h"

// Present when AddressSanitizer is linked in; the replay build without it
// skips the allocation count.
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*mallocHook)(const volatile void *, size_t),
    void (*freeHook)(const volatile void *)) __attribute__((weak));

namespace {

constexpr int32_t kDestinationWidth = 4;
// Outside 0..256, so a call that leaves the status alone is caught.
constexpr int32_t kUnwrittenStatus = 0x5A5A5A5A;

// Per thread: libFuzzer's own threads may allocate at any time.
__thread bool CountingAllocations;
__thread int AllocationCount;

void CountAllocation(const volatile void *, size_t) {
  if (CountingAllocations) ++AllocationCount;
}
void IgnoreFree(const volatile void *) {}

bool InstallAllocationCounter() {
  return __sanitizer_install_malloc_and_free_hooks &&
         __sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreFree) != 0;
}

// `text` points at `bytes` bytes of heap storage, exactly.
void CheckConversion(const char *text, size_t bytes, const std::string &input,
                     const ReferenceNumber &expected, const char *variant) {
  static const bool countingAvailable = InstallAllocationCounter();
  const std::string before(text, bytes);
  int32_t status = kUnwrittenStatus;

  AllocationCount = 0;
  CountingAllocations = true;
  const int32_t value = ParseInteger(kDestinationWidth, text, &status);
  CountingAllocations = false;

  auto detail = [&] {
    return std::string(variant) + " text \"" + Printable(input) + "\": expected " +
           std::to_string(expected.value) + " status " +
           std::to_string(expected.status) + ", got " + std::to_string(value) +
           " status " + std::to_string(status);
  };
  FUZZ_CHECK(value == expected.value && status == expected.status, detail());
  FUZZ_CHECK(!countingAvailable || AllocationCount == 0,
             detail() + "; allocations: " + std::to_string(AllocationCount));
  FUZZ_CHECK(before == std::string(text, bytes), detail() + "; the text was changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const ReferenceNumber expected = ReferenceParseInteger(input);

  // The whole input as a zero-terminated text in storage of its exact size.
  char *terminated = static_cast<char *>(malloc(size + 1));
  memcpy(terminated, data, size);
  terminated[size] = 0;
  CheckConversion(terminated, size + 1, input, expected, "terminated");
  free(terminated);

  // Only the kept characters, with no terminator after them: a read of the
  // next character is a heap overflow.
  const size_t textLength = std::min(input.find('\0'), size);
  if (textLength >= kReferenceKeptCharacters) {
    char *kept = static_cast<char *>(malloc(kReferenceKeptCharacters));
    memcpy(kept, data, kReferenceKeptCharacters);
    CheckConversion(kept, kReferenceKeptCharacters, input, expected, "unterminated");
    free(kept);
  }
  return 0;
}
