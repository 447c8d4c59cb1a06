#include "dispatch/dispatch.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <tuple>
#include <vector>

#include "case_tables.h"
#include "cmdline/argument_list.h"
#include "fake_platform.h"
#include "fake_process_test.h"
#include "fake_storage.h"
#include "reference_model.h"

namespace {

constexpr uintptr_t kToken = 77;
const PlatformLuid kShutdownLuid = {19, 5};

const std::vector<std::string> kPrivilegeCalls = {
    "OpenProcessToken(-1, 40, out)",
    "LookupPrivilegeValueA(\"\", \"SeShutdownPrivilege\", out)",
    "AdjustTokenPrivileges(77, 0, {1, {19, 5}, 2}, 0, NULL, NULL)",
};

class DispatchTest : public FakeProcessTest {
 protected:
  void SetUp() override { Reset(); }

  static void Reset() {
    ResetFakeProcess();
    FakePlatform.token = reinterpret_cast<PlatformHandle>(kToken);
    FakePlatform.luid = kShutdownLuid;
  }

  // Builds the list from `commandLine`, then runs the dispatch with a fresh
  // call record. Returns the exit code.
  static uint16_t Dispatch(const std::string &commandLine) {
    FakePlatform.commandLine = commandLine;
    BuildArgumentList();
    FakeCalls.clear();
    return RunDispatch();
  }
};

std::vector<std::string> PrivilegeThen(const std::string &action) {
  std::vector<std::string> calls = kPrivilegeCalls;
  calls.push_back(action);
  return calls;
}

std::string HelpBoxCall() {
  return "MessageBoxA(0, " + QuotedText(ReferenceHelpText()) + ", \"About Corvane\", 64)";
}

// Each row of tests/cases/actions.txt, with the action granted and then
// refused, and the reference model on it.
TEST_F(DispatchTest, EveryRowOfTheActionTable) {
  for (size_t i = 0; i < kActionCases.size(); ++i) {
    const ActionCase &row = kActionCases[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": " + Printable(row.commandLine));
    ReferenceDispatch model = ReferencePredictDispatch(row.commandLine);
    EXPECT_EQ(std::make_tuple(model.help, model.actionCode, model.conversionStatus,
                              model.forceFlag, model.action),
              std::make_tuple(row.help, row.actionCode, row.conversionStatus, row.forceFlag,
                              row.call))
        << "the reference model";
    for (PlatformBool granted : {1, 0}) {
      Reset();
      FakePlatform.actionResult = granted;
      FakePlatform.messageBoxResult = 0;
      // Help ends with 0 whatever the box answers; an action with 1 when
      // the platform refuses it.
      EXPECT_EQ(Dispatch(row.commandLine), row.help || granted ? 0 : 1);
      EXPECT_EQ(DescribeCalls(), row.help ? std::vector<std::string>{HelpBoxCall()}
                                          : PrivilegeThen(row.call));
      EXPECT_EQ(ActionCode, row.actionCode);
      EXPECT_EQ(ConversionStatus, row.conversionStatus);
      EXPECT_EQ(ForceFlag, row.forceFlag);
    }
  }
}

// Each help switch of tests/cases/help_switches.txt, alone and followed by
// a number, shows the help box and nothing else; each look-alike is
// converted and locks.
TEST_F(DispatchTest, HelpSwitchesAndLookAlikes) {
  for (const HelpSwitchCase &row : kHelpSwitchCases) {
    SCOPED_TRACE(Printable(row.argument));
    EXPECT_EQ(ReferencePredictDispatch(row.commandLine).help, row.help) << "the reference model";
    std::vector<std::string> commandLines = {row.commandLine};
    if (row.help) commandLines.push_back("Corvane \"" + row.argument + "\" 16");
    for (const std::string &commandLine : commandLines) {
      Reset();
      EXPECT_EQ(Dispatch(commandLine), 0);
      EXPECT_EQ(DescribeCalls(), row.help ? std::vector<std::string>{HelpBoxCall()}
                                          : PrivilegeThen("LockWorkStation()"));
      EXPECT_EQ(ActionCode, 0);
      EXPECT_EQ(ConversionStatus, row.conversionStatus);
      EXPECT_EQ(ForceFlag, 0);
    }
  }
}

TEST_F(DispatchTest, FailedPrivilegeChangeStillActs) {
  FakePlatform.privilegeResult = 0;
  EXPECT_EQ(Dispatch("Corvane 16"), 0);
  // The token and LUID were never filled in.
  EXPECT_EQ(DescribeCalls(),
            (std::vector<std::string>{
                "OpenProcessToken(-1, 40, out)",
                "LookupPrivilegeValueA(\"\", \"SeShutdownPrivilege\", out)",
                "AdjustTokenPrivileges(0, 0, {1, {0, 0}, 2}, 0, NULL, NULL)",
                "ExitWindowsEx(9, 0)"}));
}

}  // namespace
