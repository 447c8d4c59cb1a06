#include "frame_test_support.h"

#include <sys/mman.h>

#include <stdexcept>

#include "cmdline/argument_list.h"
#include "dispatch/dispatch.h"
#include "fake_platform.h"
#include "frame/process_frame.h"

uint32_t FakeStackLimit;
uint32_t FakeStackBase;

extern "C" uint32_t ThreadStackLimit() { return FakeStackLimit; }
extern "C" uint32_t ThreadStackBase() { return FakeStackBase; }

void ResetFrame() {
  ResetFakePlatform();
  ResetArgumentList();
  ResetDispatch();
  ResetProcessFrame();
  FakeStackLimit = FakeStackBase = 0;
}

std::vector<std::string> ShownBoxes() {
  std::vector<std::string> texts;
  for (const FakeCall &call : FakeCalls)
    if (call.function == "MessageBoxA") {
      const std::string &quoted = call.arguments.at(1);
      texts.push_back(quoted.substr(1, quoted.size() - 2));
    }
  return texts;
}

FakeStack::FakeStack(uint32_t bytes) : bytes_(bytes) {
  memory_ = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (memory_ == MAP_FAILED) throw std::runtime_error("no memory below 4 GiB");
  limit_ = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(memory_));
  base_ = limit_ + bytes;
}

FakeStack::~FakeStack() { munmap(memory_, bytes_); }

uint32_t FakeStack::Frame(uint32_t frame, uint32_t link,
                          uint32_t returnAddress) {
  uint32_t *record = reinterpret_cast<uint32_t *>(uintptr_t{frame});
  record[0] = link;
  record[1] = returnAddress;
  return frame;
}

void FakeStack::Install() const {
  FakeStackLimit = limit_;
  FakeStackBase = base_;
}
