// The fault table, the filter's decision, the back-trace walk and the
// report text.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "frame/error_box.h"
#include "frame/fault_report.h"
#include "frame/process_frame.h"
#include "frame_test_support.h"

namespace {

struct FaultRow {
  uint32_t code;
  uint8_t number;
  uint8_t resetFpu;
};

const FaultRow kExpectedTable[] = {
    {0x80000004, 217, 0}, {0xC0000005, 216, 0}, {0xC0000006, 217, 0},
    {0xC000001D, 217, 0}, {0xC000008C, 201, 0}, {0xC000008D, 216, 1},
    {0xC000008E, 200, 1}, {0xC0000090, 207, 1}, {0xC0000091, 205, 1},
    {0xC0000092, 207, 1}, {0xC0000093, 206, 1}, {0xC0000094, 200, 0},
    {0xC0000095, 215, 0}, {0xC0000096, 217, 0}, {0xC00000FD, 202, 0},
};

TEST(FaultTableTest, MapsExactlyTheFifteenCodes) {
  for (const FaultRow &row : kExpectedTable) {
    SCOPED_TRACE(row.code);
    const FaultTableRow *found = LookUpFault(row.code);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ErrorNumber, row.number);
    EXPECT_EQ(found->ResetFpu, row.resetFpu);
  }
  const uint32_t absent[] = {0xC000008F /* inexact result */, 0x80000003,
                             0x80000001, 0xC0000008, 0xC00000FC, 0xC00000FE,
                             0xC0000097, 0x40010006, 0,          0xFFFFFFFF,
                             0x00000005, 0xC000000D};
  for (uint32_t code : absent) {
    SCOPED_TRACE(code);
    EXPECT_EQ(LookUpFault(code), nullptr);
  }
}

class FilterTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kStackSegment = 0x2B;
  static constexpr uint32_t kResume = 0x00401049;
  void SetUp() override {
    ResetFrame();
    StartupStackSegment = kStackSegment;
    record_ = {};
    context_ = {};
    record_.ExceptionCode = 0xC0000094;
    context_.SegSs = kStackSegment;
    context_.Ebp = 0x0012FF00;
    context_.Esp = 0x0012FE00;
    context_.Eip = 0x00401234;
    pointers_ = {&record_, &context_};
  }
  int32_t Filter() { return FilterFault(&pointers_, kResume); }
  PlatformExceptionRecord record_;
  PlatformContext context_;
  PlatformExceptionPointers pointers_;
};

TEST_F(FilterTest, TakesAMappedFault) {
  ErrorPathStackTop = 0x01FFFF00;
  EXPECT_EQ(Filter(), kExceptionContinueExecution);
  EXPECT_EQ(context_.Eip, kResume);
  EXPECT_EQ(context_.Esp, 0x01FFFF00u);
  EXPECT_EQ(context_.Ebp, 0x0012FF00u);  // the fault's frame, for the trace
  EXPECT_EQ(record_.ExceptionCode, 0u);
  ASSERT_EQ(PendingFaultCount, 1);
  EXPECT_EQ(PendingFaults[0].Address, 0x00401234u);
  EXPECT_EQ(PendingFaults[0].ErrorNumber, 200);
  EXPECT_EQ(PendingFaults[0].ResetFpu, 0);
}

TEST_F(FilterTest, FloatFaultAsksForFpuReset) {
  record_.ExceptionCode = 0xC000008E;
  EXPECT_EQ(Filter(), kExceptionContinueExecution);
  EXPECT_EQ(PendingFaults[0].ErrorNumber, 200);
  EXPECT_EQ(PendingFaults[0].ResetFpu, 1);
}

TEST_F(FilterTest, StaysOnTheStackUntilStartUpSetAreaAside) {
  EXPECT_EQ(Filter(), kExceptionContinueExecution);
  EXPECT_EQ(context_.Esp, 0x0012FE00u);
}

TEST_F(FilterTest, LeavesOtherFaultsToThePlatform) {
  struct Row {
    const char *why;
    uint32_t code, segment, ebp;
  };
  const Row rows[] = {
      {"breakpoint", 0x80000003, kStackSegment, 0x0012FF00},
      {"inexact result", 0xC000008F, kStackSegment, 0x0012FF00},
      {"foreign stack segment", 0xC0000005, 0x53, 0x0012FF00},
      {"no frame", 0xC0000005, kStackSegment, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.why);
    SetUp();
    record_.ExceptionCode = row.code;
    context_.SegSs = row.segment;
    context_.Ebp = row.ebp;
    EXPECT_EQ(Filter(), kExceptionContinueSearch);
    EXPECT_EQ(record_.ExceptionCode, row.code);
    EXPECT_EQ(context_.Eip, 0x00401234u);
    EXPECT_EQ(PendingFaultCount, 0);
  }
}

TEST_F(FilterTest, FullPendingStackLeavesTheFaultToThePlatform) {
  PendingFaultCount = kPendingFaultCapacity;
  EXPECT_EQ(Filter(), kExceptionContinueSearch);
  EXPECT_EQ(PendingFaultCount, kPendingFaultCapacity);
  EXPECT_EQ(context_.Eip, 0x00401234u);
}

TEST(BackTraceLineTest, EightUpperCaseDigits) {
  const std::pair<uint32_t, const char *> rows[] = {
      {4198400, "  0x00401000"}, {0, "  0x00000000"},
      {0xFFFFFFFF, "  0xFFFFFFFF"}, {0xABCDEF12, "  0xABCDEF12"}};
  for (const auto &row : rows) {
    char line[kBackTraceLineSize];
    FormatBackTraceLine(row.first, line);
    EXPECT_STREQ(line, row.second);
  }
}

class FrameWalkTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kFrameSize = 32;
  void SetUp() override {
    ResetFrame();
    stack_.Install();
    BindErrorBoxChannel(&StdOutChannel);
    OpenErrorBoxChannel(&StdOutChannel);
  }
  // A chain of `count` frames from the bottom of the stack upwards; frame i
  // returns to 0x00401000 + i. The last links to 0.
  uint32_t Chain(int count) {
    uint32_t bottom = stack_.Limit() + 64;
    for (int i = 0; i < count; ++i) {
      uint32_t frame = bottom + i * kFrameSize;
      stack_.Frame(frame, i + 1 < count ? frame + kFrameSize : 0,
                   0x00401000 + i);
    }
    return bottom;
  }
  // The walk's output, through a channel that keeps everything.
  std::vector<std::string> Walk(uint32_t frame) {
    Captured.clear();
    TextChannel channel = {};
    channel.Handle = kNoHandle;
    channel.Mode = kChannelOutput;
    channel.WriteOut = channel.Flush = channel.Close = Capture;
    WriteFrameChain(&channel, frame);
    std::vector<std::string> lines;
    for (size_t at = 0; at < Captured.size(); at += 14) {
      EXPECT_EQ(Captured.substr(at + 12, 2), "\r\n");
      lines.push_back(Captured.substr(at, 12));
    }
    return lines;
  }
  static uint16_t Capture(TextChannel *channel) {
    Captured.append(channel->Buffer, channel->BufferCount);
    channel->BufferCount = 0;
    return 0;
  }
  static std::string Captured;
  std::string Line(uint32_t address) {
    char line[kBackTraceLineSize];
    FormatBackTraceLine(address, line);
    return line;
  }
  FakeStack stack_{64 * 1024};
};

TEST_F(FrameWalkTest, FrameLimits) {
  struct Row {
    uint32_t fileType;
    int frames;
    size_t lines;
  };
  const Row rows[] = {
      {kFileTypeChar, 5, 5},   {kFileTypeChar, 9, 9},  {kFileTypeChar, 20, 9},
      {0, 20, 20},             {0, 257, 257},          {0, 300, 257},
      {1 /* disk */, 300, 257},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::to_string(row.fileType) + "/" + std::to_string(row.frames));
    SetUp();
    FakePlatform.fileType = row.fileType;
    std::vector<std::string> lines = Walk(Chain(row.frames));
    ASSERT_EQ(lines.size(), row.lines);
    EXPECT_EQ(lines.front(), Line(0x00401000));
    EXPECT_EQ(lines.back(), Line(0x00401000 + row.lines - 1));
  }
}

TEST_F(FrameWalkTest, AsksTheChannelsHandleForItsKind) {
  Walk(Chain(1));
  EXPECT_EQ(DescribeCall(FakeCalls.at(0)), "GetFileType(-1)");
}

TEST_F(FrameWalkTest, ZeroReturnAddressWritesNoLineButCounts) {
  FakePlatform.fileType = kFileTypeChar;
  uint32_t bottom = Chain(20);
  stack_.Frame(bottom + 2 * kFrameSize, bottom + 3 * kFrameSize, 0);
  std::vector<std::string> lines = Walk(bottom);
  ASSERT_EQ(lines.size(), 8u);  // 9 frames visited, one of them silent
  EXPECT_EQ(lines[2], Line(0x00401003));
  EXPECT_EQ(lines.back(), Line(0x00401008));
}

TEST_F(FrameWalkTest, StopsAtBrokenLinks) {
  struct Row {
    const char *why;
    int64_t linkOffset;  // from the second frame, or an absolute value
    bool absolute;
  };
  const Row rows[] = {
      {"link to itself", 0, false},
      {"link below the frame", -kFrameSize, false},
      {"link not 4-byte aligned", 2, false},
      {"link above the stack", 0x7FFF0000, true},
      {"link into the last 4 bytes of the stack", -4, true},
      {"link just below the stack", -8, true},
      {"negative link", 0xFFFFFFF0, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.why);
    SetUp();
    uint32_t bottom = Chain(10);
    uint32_t second = bottom + kFrameSize;
    uint32_t link = static_cast<uint32_t>(row.linkOffset + second);
    if (row.absolute)
      link = row.linkOffset == -4   ? stack_.Base() - 4
             : row.linkOffset == -8 ? stack_.Limit() - 8
                                    : static_cast<uint32_t>(row.linkOffset);
    stack_.Frame(second, link, 0x00401001);
    EXPECT_EQ(Walk(bottom),
              (std::vector<std::string>{Line(0x00401000), Line(0x00401001)}));
  }
}

TEST_F(FrameWalkTest, FirstFrameOutsideTheStackWritesNothing) {
  // 0x80000000 is the lowest frame as the walk compares them, signed.
  const uint32_t frames[] = {0, 0x7FFF0000, 0x80000000, 0xFFFFFFFC,
                             stack_.Limit() + 66, stack_.Limit() - 16};
  for (uint32_t frame : frames) {
    SCOPED_TRACE(frame);
    SetUp();
    EXPECT_TRUE(Walk(frame).empty());
  }
}

std::string FrameWalkTest::Captured;

class ReportTest : public FrameWalkTest {};

TEST_F(ReportTest, WholeReportInOneBox) {
  uint32_t bottom = Chain(2);
  RuntimeErrorNumber = 216;
  RuntimeErrorAddress = 0x0040ABCD;
  RuntimeErrorFrame = bottom;
  WriteFaultReport();
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{
                              "Runtime error 216 at 0x0040ABCD\r\n"
                              "  0x0040ABCD\r\n"
                              "  0x00401000\r\n"
                              "  0x00401001\r\n"
                              "\r\n"});
  CloseChannel(&StdOutChannel);
  EXPECT_EQ(ShownBoxes().size(), 1u);
}

TEST_F(ReportTest, NumbersInDecimalWithoutFill) {
  const std::pair<uint16_t, const char *> rows[] = {
      {200, "Runtime error 200 at 0x00000001\r\n"},
      {7, "Runtime error 7 at 0x00000001\r\n"},
      {0, "Runtime error 0 at 0x00000001\r\n"},
      {65535, "Runtime error 65535 at 0x00000001\r\n"}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.first);
    SetUp();
    RuntimeErrorNumber = row.first;
    RuntimeErrorAddress = 1;
    WriteFaultReport();
    ASSERT_EQ(ShownBoxes().size(), 1u);
    EXPECT_EQ(ShownBoxes()[0].substr(0, strlen(row.second)), row.second);
  }
}

TEST_F(ReportTest, NothingIsShownWhileIoStatusIsSet) {
  RuntimeErrorNumber = 216;
  RuntimeErrorAddress = 1;
  IoStatus = kIoStatusNotOpenForOutput;
  WriteFaultReport();
  CloseChannel(&StdOutChannel);
  EXPECT_TRUE(ShownBoxes().empty());
}

}  // namespace
