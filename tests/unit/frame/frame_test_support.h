// Shared helpers for the process-frame tests: a clean frame before every
// test, the texts of the boxes shown, and fake thread stacks below 4 GiB.
#pragma once

#include <stdint.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"

extern "C" {
extern uint32_t FakeStackLimit;
extern uint32_t FakeStackBase;
}

// The fake platform, and everything the program keeps between calls, back
// to its load-time state.
void ResetFrame();

// Runs `body` to its end in ExitProcess and returns the exit code.
template <typename Body>
uint32_t RunToExit(Body body) {
  try {
    body();
  } catch (const FakeProcessExit &exit) {
    return exit.exitCode;
  }
  ADD_FAILURE() << "the process did not end";
  return ~0u;
}

// The text argument of every MessageBoxA call so far, in order.
std::vector<std::string> ShownBoxes();

// Memory addressable with 32 bits, where a test lays out saved-frame
// records (link, return address) as a thread stack of its own.
class FakeStack {
 public:
  explicit FakeStack(uint32_t bytes);
  ~FakeStack();
  uint32_t Base() const { return base_; }
  uint32_t Limit() const { return limit_; }
  // Writes a frame record at `frame` and returns `frame`.
  uint32_t Frame(uint32_t frame, uint32_t link, uint32_t returnAddress);
  // Makes these the running thread's stack bounds.
  void Install() const;

 private:
  void *memory_;
  uint32_t bytes_, limit_, base_;
};
