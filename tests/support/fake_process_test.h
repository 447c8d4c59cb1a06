// A GoogleTest fixture that starts and ends every test with a fresh fake
// process: empty call log, default platform answers, no storage, the
// argument list and the dispatch values as at load time.
#pragma once

#include <gtest/gtest.h>

#include "cmdline/argument_list.h"
#include "dispatch/dispatch.h"
#include "fake_platform.h"
#include "fake_storage.h"

class FakeProcessTest : public testing::Test {
 protected:
  void SetUp() override { ResetFakeProcess(); }
  void TearDown() override { ResetFakeProcess(); }

  static void ResetFakeProcess() {
    ResetFakePlatform();
    ResetFakeStorage();
    ResetArgumentList();
    ResetDispatch();
  }
};
