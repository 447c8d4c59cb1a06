// Start-up, the exit sequence and the error path, on the fake platform with
// the real argument list, dispatch and storage manager.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "frame/error_box.h"
#include "frame/fault_report.h"
#include "frame/process_frame.h"
#include "frame/runtime_error.h"
#include "frame/text_channel.h"
#include "frame_test_support.h"

namespace {

std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const FakeCall &call : FakeCalls) names.push_back(call.function);
  return names;
}

class ProcessFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFrame();
    saved_ = ModuleInitTable;
  }
  void TearDown() override { ModuleInitTable = saved_; }
  ModuleInitTableRecord saved_;
};

TEST_F(ProcessFrameTest, NormalRunInOrder) {
  FakePlatform.commandLine = "corvane 1";
  ConsoleFlag = 1;  // whatever it held, the main sequence makes it 0
  EXPECT_EQ(RunToExit(MainSequence), 0u);
  std::vector<std::string> calls;
  for (const std::string &call : DescribeCalls())
    if (call.rfind("Global", 0) != 0) calls.push_back(call);
  const std::vector<std::string> start(calls.begin(), calls.begin() + 5);
  EXPECT_EQ(start, (std::vector<std::string>{
                       "GetStdHandle(-10)", "GetStdHandle(-11)",
                       "GetStdHandle(-12)",
                       "GetModuleFileNameA(0, out, 255)", "GetCommandLineA()"}));
  const std::vector<std::string> end(calls.end() - 3, calls.end());
  EXPECT_EQ(end, (std::vector<std::string>{"SetSystemPowerState(1, 0)",
                                           "SetUnhandledExceptionFilter(NULL)",
                                           "ExitProcess(0)"}));
  EXPECT_TRUE(ShownBoxes().empty());
  EXPECT_EQ(ConsoleFlag, 0);
  EXPECT_EQ(IoStatus, 0);
  EXPECT_EQ(StdOutChannel.Mode, kChannelClosed);
  EXPECT_EQ(StdErrChannel.Mode, kChannelClosed);
}

TEST_F(ProcessFrameTest, ExitCodeOfTheDispatch) {
  struct Row {
    const char *commandLine;
    PlatformBool actionResult;
    uint32_t exitCode;
    size_t boxes;
  };
  const Row rows[] = {{"corvane ?", 1, 0, 1},
                      {"corvane 0", 0, 1, 0},
                      {"corvane 16", 0, 1, 0},
                      {"corvane 16", 1, 0, 0}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.commandLine);
    SetUp();
    FakePlatform.commandLine = row.commandLine;
    FakePlatform.actionResult = row.actionResult;
    EXPECT_EQ(RunToExit(MainSequence), row.exitCode);
    EXPECT_EQ(ShownBoxes().size(), row.boxes);
  }
}

TEST_F(ProcessFrameTest, ChannelsAreBoundAndOpenedAfterTheStandardHandles) {
  FakePlatform.stdHandle = reinterpret_cast<PlatformHandle>(uintptr_t{44});
  InitRuntimeServices();
  for (uint32_t handle : StandardHandles) EXPECT_EQ(handle, 44u);
  EXPECT_EQ(StdErrChannel.Handle, kNoHandle);
  EXPECT_EQ(StdOutChannel.Handle, kNoHandle);
  EXPECT_EQ(StdErrChannel.Mode, kChannelOutput);
  EXPECT_EQ(StdOutChannel.Mode, kChannelOutput);
}

std::vector<std::string> Steps;
void InitFirst() { Steps.push_back("init 1 count " + std::to_string(ModuleInitTable.InitialisedCount)); }
void InitSecond() { Steps.push_back("init 2 count " + std::to_string(ModuleInitTable.InitialisedCount)); }
void FinaliseFirst() { Steps.push_back("final 1 count " + std::to_string(ModuleInitTable.InitialisedCount)); }
void FinaliseSecond() { Steps.push_back("final 2 count " + std::to_string(ModuleInitTable.InitialisedCount)); }

TEST_F(ProcessFrameTest, InitialisersInOrderFinalisersInReverse) {
  Steps.clear();
  ModuleInitTable.Entries[0] = {InitFirst, FinaliseFirst};
  ModuleInitTable.Entries[1] = {InitSecond, FinaliseSecond};
  // No run-time services: the dispatch and the channels run on closed
  // channels, which only sets IoStatus.
  EXPECT_EQ(RunToExit(MainSequence), 0u);
  EXPECT_EQ(Steps, (std::vector<std::string>{
                       "init 1 count 0", "init 2 count 1",
                       "final 2 count 1", "final 1 count 0"}));
}

TEST_F(ProcessFrameTest, AbsentRoutinesAreSkipped) {
  Steps.clear();
  ModuleInitTable.Entries[0] = {nullptr, FinaliseFirst};
  ModuleInitTable.Entries[1] = {InitSecond, nullptr};
  RunToExit(MainSequence);
  EXPECT_EQ(Steps, (std::vector<std::string>{"init 2 count 1",
                                             "final 1 count 0"}));
}

// A finaliser that faults: the error path re-enters the exit sequence.
void FaultingFinaliser() {
  Steps.push_back("faulting count " + std::to_string(ModuleInitTable.InitialisedCount));
  ReportRuntimeError(kRuntimeErrorAccessViolation, 0x00401111, 0);
}

TEST_F(ProcessFrameTest, FaultInAFinaliserDoesNotRunItAgain) {
  Steps.clear();
  InitRuntimeServices();
  ModuleInitTable.Entries[0] = {nullptr, FinaliseFirst};
  ModuleInitTable.Entries[1] = {nullptr, FaultingFinaliser};
  ModuleInitTable.InitialisedCount = 2;
  EXPECT_EQ(RunToExit(RunExitSequence), 216u);
  EXPECT_EQ(Steps, (std::vector<std::string>{"faulting count 1",
                                             "final 1 count 0"}));
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0],
            "Runtime error 216 at 0x00401111\r\n  0x00401111\r\n\r\n");
}

TEST_F(ProcessFrameTest, ReportThenCloseThenRemoveFilterThenExit) {
  FakeStack stack(4096);
  stack.Install();
  uint32_t frame = stack.Frame(stack.Limit() + 16, stack.Limit() + 32, 0x00401500);
  stack.Frame(stack.Limit() + 32, 0, 0x00401044);
  InitRuntimeServices();
  ModuleInitTable.InitialisedCount = 2;
  FakeCalls.clear();
  EXPECT_EQ(RunToExit([&] { ReportRuntimeError(200, 0x00401234, frame); }), 200u);
  EXPECT_EQ(CallNames(), (std::vector<std::string>{
                             "GetFileType", "MessageBoxA",
                             "SetUnhandledExceptionFilter", "ExitProcess"}));
  EXPECT_EQ(ShownBoxes()[0],
            "Runtime error 200 at 0x00401234\r\n  0x00401234\r\n"
            "  0x00401500\r\n  0x00401044\r\n\r\n");
  EXPECT_EQ(ProcessExitCode, 200);
  EXPECT_EQ(RuntimeErrorNumber, 200);
  EXPECT_EQ(RuntimeErrorFrame, frame);
}

TEST_F(ProcessFrameTest, FaultAtAddressZeroStillReports) {
  FakeStack stack(4096);
  stack.Install();
  uint32_t frame = stack.Frame(stack.Limit() + 16, 0, 0x00401500);
  InitRuntimeServices();
  EXPECT_EQ(RunToExit([&] { ReportRuntimeError(216, 0, frame); }), 216u);
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0],
            "Runtime error 216 at 0x00000000\r\n  0x00000000\r\n"
            "  0x00401500\r\n\r\n");
}

TEST_F(ProcessFrameTest, ShortRemainderOfALongReportIsShownAtExit) {
  InitRuntimeServices();
  // 1022 characters collected: the report's first line completes the box,
  // and what follows it is shown when the channels are closed.
  std::string filler(1020, 'f');
  WriteText(&StdOutChannel, filler.c_str(), 0);
  EndLine(&StdOutChannel);
  EXPECT_EQ(RunToExit([] { ReportRuntimeError(201, 0x00401234, 0); }), 201u);
  std::vector<std::string> boxes = ShownBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].size(), 1024u);
  EXPECT_EQ(boxes[1], "  0x00401234\r\n\r\n");
}

TEST_F(ProcessFrameTest, FaultWhileTheReportIsWrittenEndsWithTheFirstNumber) {
  InitRuntimeServices();
  ProcessExitCode = 216;
  RuntimeErrorNumber = 216;
  RuntimeErrorAddress = 0x00401234;
  FaultReportInProgress = true;
  FakeCalls.clear();
  EXPECT_EQ(RunToExit([] { ReportRuntimeError(217, 0x7B000000, 0); }), 216u);
  EXPECT_EQ(DescribeCalls(), std::vector<std::string>{"ExitProcess(216)"});
  EXPECT_EQ(RuntimeErrorAddress, 0x00401234u);
}

TEST_F(ProcessFrameTest, FaultBeforeTheChannelsAreOpenShowsNoBox) {
  EXPECT_EQ(RunToExit([] { ReportRuntimeError(216, 0x00401234, 0); }), 216u);
  EXPECT_TRUE(ShownBoxes().empty());
  EXPECT_EQ(IoStatus, kIoStatusNotOpenForOutput);
}

TEST_F(ProcessFrameTest, StorageExhaustionIsError203) {
  FakePlatform.commandLine = "corvane 16";
  FakePlatform.globalAllocsBeforeFailure = 0;
  EXPECT_EQ(RunToExit(MainSequence), 203u);
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].rfind("Runtime error 203 at 0x", 0), 0u);
  for (const std::string &name : CallNames())
    EXPECT_NE(name, "ExitWindowsEx");  // the dispatch never ran
}

TEST_F(ProcessFrameTest, ResetStringTableCopiesFirstTextToSecond) {
  StringTableEntry entries[2] = {{"a", "x"}, {"b", nullptr}};
  StringTable table = {2, entries};
  StringTable *const tables[] = {&table};
  StringTables = tables;
  StringTableCount = 1;
  ResetStringTable();
  StringTables = nullptr;
  StringTableCount = 0;
  EXPECT_STREQ(entries[0].Current, "a");
  EXPECT_STREQ(entries[1].Current, "b");
}

}  // namespace
