#include "dispatch/dispatch.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "cmdline/argument_list.h"
#include "fake_platform.h"
#include "fake_process_test.h"
#include "fake_storage.h"
#include "reference_help_lines.h"

namespace {

constexpr uintptr_t kToken = 77;
const PlatformLuid kShutdownLuid = {19, 5};

const std::vector<std::string> kPrivilegeCalls = {
    "OpenProcessToken(-1, 40, out)",
    "LookupPrivilegeValueA(\"\", \"SeShutdownPrivilege\", out)",
    "AdjustTokenPrivileges(77, 0, {1, {19, 5}, 2}, 0, NULL, NULL)",
};

const std::vector<std::string> kHelpLines(std::begin(kReferenceHelpLines),
                                          std::end(kReferenceHelpLines));
constexpr size_t kHelpTextBytes = 487;

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
  return "MessageBoxA(0, " + QuotedText(kHelpText) + ", \"About Corvane\", 64)";
}

struct ActionRow {
  const char *commandLine;
  const char *action;
  int32_t actionCode;
  int32_t forceFlag;
};

const ActionRow kActionRows[] = {
    {"Corvane", "LockWorkStation()", 0, 0},
    {"Corvane 0", "LockWorkStation()", 0, 0},
    {"Corvane 32", "LockWorkStation()", 32, 1},
    {"Corvane 64", "LockWorkStation()", 64, 0},
    {"Corvane 96", "LockWorkStation()", 96, 1},
    {"Corvane 1", "SetSystemPowerState(1, 0)", 1, 0},
    {"Corvane 2", "SetSystemPowerState(0, 0)", 2, 0},
    {"Corvane 4", "ExitWindowsEx(0, 0)", 4, 0},
    {"Corvane 8", "ExitWindowsEx(2, 0)", 8, 0},
    {"Corvane 16", "ExitWindowsEx(9, 0)", 16, 0},
    {"Corvane 3", "SetSystemPowerState(1, 0)", 3, 0},
    {"Corvane 6", "SetSystemPowerState(0, 0)", 6, 0},
    {"Corvane 12", "ExitWindowsEx(0, 0)", 12, 0},
    {"Corvane 24", "ExitWindowsEx(2, 0)", 24, 0},
    {"Corvane 33", "SetSystemPowerState(1, 1)", 33, 1},
    {"Corvane 34", "SetSystemPowerState(0, 1)", 34, 1},
    {"Corvane 36", "ExitWindowsEx(4, 0)", 36, 1},
    {"Corvane 40", "ExitWindowsEx(6, 0)", 40, 1},
    {"Corvane 48", "ExitWindowsEx(13, 0)", 48, 1},
    {"Corvane -1", "SetSystemPowerState(1, 1)", -1, 1},
    {"Corvane $FFFFFFE0", "LockWorkStation()", -32, 1},
    {"Corvane $FFFFFFDF", "SetSystemPowerState(1, 0)", -33, 0},
    {"Corvane %110000", "ExitWindowsEx(13, 0)", 48, 1},
    {"Corvane 16 1", "ExitWindowsEx(9, 0)", 16, 0},
    {"Corvane \" 16\"", "ExitWindowsEx(9, 0)", 16, 0},
    // Not a complete number: converts to 0, which locks.
    {"Corvane 16x", "LockWorkStation()", 0, 0},
    {"Corvane \"16 \"", "LockWorkStation()", 0, 0},
    {"Corvane 2147483648", "LockWorkStation()", 0, 0},
};

TEST_F(DispatchTest, ActionFollowsTheFirstSetBit) {
  for (size_t i = 0; i < std::size(kActionRows); ++i) {
    const ActionRow &row = kActionRows[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": " + row.commandLine);
    Reset();
    EXPECT_EQ(Dispatch(row.commandLine), kExitCompleted);
    EXPECT_EQ(DescribeCalls(), PrivilegeThen(row.action));
    EXPECT_EQ(ActionCode, row.actionCode);
    EXPECT_EQ(ForceFlag, row.forceFlag);
  }
}

TEST_F(DispatchTest, ConversionStatusIsKeptButNotActedOn) {
  Dispatch("Corvane 16x");
  EXPECT_EQ(ConversionStatus, 3);
  Reset();
  Dispatch("Corvane");
  EXPECT_EQ(ConversionStatus, 1);
  Reset();
  Dispatch("Corvane 16");
  EXPECT_EQ(ConversionStatus, 0);
}

TEST_F(DispatchTest, HelpSwitchesShowOnlyTheHelpBox) {
  const char *switches[] = {"-?", "/?", "?", "-H", "/H", "-h", "/h", "H", "h"};
  for (const char *helpSwitch : switches) {
    SCOPED_TRACE(helpSwitch);
    for (const std::string &commandLine :
         {"Corvane " + std::string(helpSwitch), "Corvane \"" + std::string(helpSwitch) + "\" 16"}) {
      Reset();
      FakePlatform.messageBoxResult = 0;
      EXPECT_EQ(Dispatch(commandLine), kExitCompleted);
      EXPECT_EQ(DescribeCalls(), std::vector<std::string>{HelpBoxCall()});
      EXPECT_EQ(ActionCode, 0);
      EXPECT_EQ(ConversionStatus, 0);
      EXPECT_EQ(ForceFlag, 0);
    }
  }
}

TEST_F(DispatchTest, LookAlikesAreConverted) {
  struct Row {
    const char *commandLine;
    int32_t status;
  };
  const Row rows[] = {
      {"Corvane ??", 1},      {"Corvane /help", 1}, {"Corvane Hx", 1},
      {"Corvane \" ?\"", 2},  {"Corvane \"? \"", 1}, {"Corvane -?x", 2},
      {"Corvane \\?", 1},     {"Corvane /H/", 1},    {"Corvane -", 2},
      {"Corvane \"/?\t\"", 1}, {"Corvane \"\x0f?\"", 1},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE("row " + std::to_string(i) + ": " + rows[i].commandLine);
    Reset();
    EXPECT_EQ(Dispatch(rows[i].commandLine), kExitCompleted);
    EXPECT_EQ(DescribeCalls(), PrivilegeThen("LockWorkStation()"));
    EXPECT_EQ(ConversionStatus, rows[i].status);
  }
}

TEST_F(DispatchTest, HelpTextLayout) {
  Dispatch("Corvane ?");
  ASSERT_EQ(FakeCalls.size(), 1u);
  std::string text = FakeCalls[0].arguments.at(1);
  ASSERT_GE(text.size(), 2u);
  text = text.substr(1, text.size() - 2);  // drop the recorded quotes

  EXPECT_EQ(text.size(), kHelpTextBytes);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 13);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 0);

  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\r')
      lines.emplace_back();
    else
      lines.back() += c;
  }
  EXPECT_EQ(lines, kHelpLines);
  for (size_t line : {2, 10, 13}) EXPECT_EQ(lines.at(line - 1), "") << "line " << line;
}

TEST_F(DispatchTest, ExitCodeTellsWhetherTheActionWasRefused) {
  const char *commandLines[] = {"Corvane", "Corvane 1", "Corvane 2", "Corvane 4",
                                "Corvane 8", "Corvane 16", "Corvane 48"};
  for (const char *commandLine : commandLines) {
    SCOPED_TRACE(commandLine);
    Reset();
    FakePlatform.actionResult = 1;
    EXPECT_EQ(Dispatch(commandLine), kExitCompleted);
    Reset();
    FakePlatform.actionResult = 0;
    EXPECT_EQ(Dispatch(commandLine), kExitActionRefused);
  }
}

TEST_F(DispatchTest, FailedPrivilegeChangeStillActs) {
  FakePlatform.privilegeResult = 0;
  EXPECT_EQ(Dispatch("Corvane 16"), kExitCompleted);
  // The token and LUID were never filled in.
  EXPECT_EQ(DescribeCalls(),
            (std::vector<std::string>{
                "OpenProcessToken(-1, 40, out)",
                "LookupPrivilegeValueA(\"\", \"SeShutdownPrivilege\", out)",
                "AdjustTokenPrivileges(0, 0, {1, {0, 0}, 2}, 0, NULL, NULL)",
                "ExitWindowsEx(9, 0)"}));
}

TEST_F(DispatchTest, HelpIgnoresTheBoxAnswerAndTheActionResult) {
  FakePlatform.actionResult = 0;
  FakePlatform.messageBoxResult = 0;
  EXPECT_EQ(Dispatch("Corvane h"), kExitCompleted);
}

}  // namespace
