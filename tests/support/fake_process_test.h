// A GoogleTest fixture that starts and ends every test with a fresh fake
// process: empty call log, default platform answers, program values zeroed.
#pragma once

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "fake_storage.h"

class FakeProcessTest : public testing::Test {
 protected:
  void SetUp() override { ResetFakeProcess(); }
  void TearDown() override { ResetFakeProcess(); }

  static void ResetFakeProcess() {
    ResetFakePlatform();
    ResetFakeStorage();
  }
};
