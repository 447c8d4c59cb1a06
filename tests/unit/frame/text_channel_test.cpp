// Text channels and the error-box channel behind the standard channels.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "frame/error_box.h"
#include "frame/text_channel.h"
#include "frame_test_support.h"

namespace {

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFrame();
    BindErrorBoxChannel(&StdOutChannel);
    OpenErrorBoxChannel(&StdOutChannel);
  }
  void WriteLine(const std::string &text) {
    WriteText(&StdOutChannel, text.c_str(), 0);
    EndLine(&StdOutChannel);
  }
};

// A channel whose write-out records each hand-over.
std::vector<std::string> HandOvers;
uint16_t RecordHandOver(TextChannel *channel) {
  HandOvers.emplace_back(channel->Buffer, channel->BufferCount);
  channel->BufferCount = 0;
  return 0;
}

TextChannel RecordingChannel() {
  TextChannel channel = {};
  channel.Handle = kNoHandle;
  channel.Mode = kChannelOutput;
  channel.WriteOut = RecordHandOver;
  channel.Close = RecordHandOver;
  HandOvers.clear();
  return channel;
}

TEST(TextChannelTest, BufferIsHandedOverOnlyWhenMoreMustGoIn) {
  struct Row {
    uint32_t length;
    std::vector<size_t> handOvers;
    uint32_t left;
  };
  const Row rows[] = {
      {255, {}, 255}, {256, {}, 256}, {257, {256}, 1}, {600, {256, 256}, 88},
      {768, {256, 256}, 256},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.length);
    ResetFrame();
    TextChannel channel = RecordingChannel();
    std::string text(row.length, 'x');
    WriteText(&channel, text.c_str(), 0);
    std::vector<size_t> sizes;
    for (const std::string &h : HandOvers) sizes.push_back(h.size());
    EXPECT_EQ(sizes, row.handOvers);
    EXPECT_EQ(channel.BufferCount, row.left);
  }
}

TEST(TextChannelTest, WidthPadsOnTheLeft) {
  struct Row {
    const char *text;
    int32_t width;
    const char *written;
  };
  const Row rows[] = {{"ab", 5, "   ab"}, {"ab", 2, "ab"}, {"ab", 0, "ab"},
                      {"ab", -3, "ab"},   {"", 3, "   "}};
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string(row.text) + "/" + std::to_string(row.width));
    ResetFrame();
    TextChannel channel = RecordingChannel();
    WriteText(&channel, row.text, row.width);
    EXPECT_EQ(std::string(channel.Buffer, channel.BufferCount), row.written);
  }
}

TEST(TextChannelTest, EndLineAppendsCrLfAndFlushes) {
  ResetFrame();
  TextChannel channel = RecordingChannel();
  channel.Flush = RecordHandOver;
  WriteText(&channel, "a", 0);
  EndLine(&channel);
  EXPECT_EQ(HandOvers, std::vector<std::string>{"a\r\n"});
}

TEST(TextChannelTest, WrongModeSetsIoStatusAndSilencesEverything) {
  struct Row {
    ChannelMode mode;
    uint16_t status;
  };
  const Row rows[] = {{kChannelClosed, kIoStatusNotOpenForOutput},
                      {kChannelAppend, kIoStatusNotOpenForOutput},
                      {kChannelInput, kIoStatusOpenForInput}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.mode);
    ResetFrame();
    TextChannel wrong = RecordingChannel();
    wrong.Mode = row.mode;
    WriteText(&wrong, "x", 0);
    EXPECT_EQ(IoStatus, row.status);
    // Later operations on a good channel do nothing, closing included.
    TextChannel good = RecordingChannel();
    WriteText(&good, "y", 0);
    EndLine(&good);
    CloseChannel(&good);
    EXPECT_EQ(good.BufferCount, 0u);
    EXPECT_EQ(good.Mode, kChannelOutput);
    EXPECT_TRUE(HandOvers.empty());
    EXPECT_EQ(IoStatus, row.status);
  }
}

TEST(TextChannelTest, EndLineOnClosedChannelIs103) {
  ResetFrame();
  TextChannel channel = RecordingChannel();
  channel.Mode = kChannelClosed;
  EndLine(&channel);
  EXPECT_EQ(IoStatus, kIoStatusNotOpenForOutput);
}

TEST(TextChannelTest, CloseSkipsTheCloseRoutineOfAStandardHandle) {
  ResetFrame();
  StandardHandles[1] = 7;
  TextChannel channel = RecordingChannel();
  channel.Handle = 7;
  WriteText(&channel, "ab", 0);
  CloseChannel(&channel);
  EXPECT_EQ(HandOvers, std::vector<std::string>{"ab"});  // write-out only
  EXPECT_EQ(channel.Mode, kChannelClosed);

  TextChannel other = RecordingChannel();
  WriteText(&other, "cd", 0);
  CloseChannel(&other);
  EXPECT_EQ(HandOvers, (std::vector<std::string>{"cd", ""}));
}

TEST(TextChannelTest, ClosingAClosedChannelIs103) {
  ResetFrame();
  TextChannel channel = RecordingChannel();
  channel.Mode = kChannelClosed;
  CloseChannel(&channel);
  EXPECT_EQ(IoStatus, kIoStatusNotOpenForOutput);
  EXPECT_TRUE(HandOvers.empty());
}

TEST_F(ChannelTest, BindAndOpen) {
  TextChannel channel;
  memset(&channel, 0x5A, sizeof channel);
  BindErrorBoxChannel(&channel);
  EXPECT_EQ(channel.Handle, kNoHandle);
  EXPECT_EQ(channel.Mode, kChannelClosed);
  EXPECT_STREQ(channel.Name, "");
  EXPECT_EQ(channel.BufferCount, 0u);
  EXPECT_EQ(OpenErrorBoxChannel(&channel), 0);
  EXPECT_EQ(channel.Mode, kChannelOutput);
  EXPECT_EQ(channel.BufferCount, 0u);
  EXPECT_NE(channel.Flush, nullptr);
}

TEST_F(ChannelTest, ReportEndingInEmptyLineShowsOneBox) {
  WriteLine("Runtime error 216 at 0x00401000");
  WriteLine("  0x00401000");
  EXPECT_TRUE(ShownBoxes().empty());
  WriteLine("");
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{
                              "Runtime error 216 at 0x00401000\r\n"
                              "  0x00401000\r\n\r\n"});
  EXPECT_EQ(DescribeCall(FakeCalls.back()),
            "MessageBoxA(0, \"Runtime error 216 at 0x00401000\r\n"
            "  0x00401000\r\n\r\n\", \"Error\", 0)");
  CloseChannel(&StdOutChannel);
  EXPECT_EQ(ShownBoxes().size(), 1u);  // nothing left for the close
}

TEST_F(ChannelTest, LongReportIsSplitIntoFullBoxes) {
  // Lines of 14 characters with their line end: 74 of them fill 1036.
  struct Row {
    int lines;
    std::vector<size_t> boxes;  // sizes, shown before the close
    std::vector<size_t> atClose;
  };
  const Row rows[] = {
      {73, {}, {1022}},
      {74, {1024}, {}},  // the 74th hand-over is cut after 2 of its 14
      {148, {1024, 1024}, {}},
      {80, {1024}, {84}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.lines);
    SetUp();
    for (int i = 0; i < row.lines; ++i) WriteLine("  0x0040100" + std::to_string(i % 10));
    std::vector<size_t> sizes;
    for (const std::string &box : ShownBoxes()) sizes.push_back(box.size());
    EXPECT_EQ(sizes, row.boxes);
    CloseChannel(&StdOutChannel);
    std::vector<std::string> all = ShownBoxes();
    std::vector<size_t> closing;
    for (size_t i = row.boxes.size(); i < all.size(); ++i) closing.push_back(all[i].size());
    EXPECT_EQ(closing, row.atClose);
  }
}

TEST_F(ChannelTest, BoxAt1024CutsTheHandOverAndDropsTheRest) {
  std::string first(1020, 'a');
  WriteText(&StdOutChannel, first.c_str(), 0);  // 3 hand-overs of 256, 252 left
  EndLine(&StdOutChannel);                      // 1022 collected
  WriteLine("bcdef");                           // 2 fit, "def\r\n" dropped
  std::vector<std::string> boxes = ShownBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], first + "\r\nbc");
  EXPECT_EQ(ErrorTextLength, 0u);
  WriteLine("g");
  CloseChannel(&StdOutChannel);
  EXPECT_EQ(ShownBoxes().back(), "g\r\n");
}

TEST_F(ChannelTest, ShortRemainderIsShownOnlyAtClose) {
  // 1024 = 73 lines of 14 + 22: the 74th line fills the box exactly.
  for (int i = 0; i < 73; ++i) WriteLine("  0x00401000");
  WriteLine(std::string(20, 'z'));
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].size(), 1024u);
  WriteLine("");  // "\r\n": 2 characters, too short to be complete
  EXPECT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ErrorTextLength, 2u);
  CloseChannel(&StdOutChannel);
  EXPECT_EQ(ShownBoxes(), (std::vector<std::string>{ShownBoxes()[0], "\r\n"}));
  EXPECT_EQ(ErrorTextLength, 0u);
}

TEST_F(ChannelTest, ThreeLineEndsAloneAreNotComplete) {
  WriteText(&StdOutChannel, "\n", 0);
  EndLine(&StdOutChannel);  // "\n\r\n": 3 line-end characters, length 3
  EXPECT_TRUE(ShownBoxes().empty());
  EndLine(&StdOutChannel);  // 5 characters, all line ends
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{"\n\r\n\r\n"});
}

TEST_F(ChannelTest, FlushOfEmptyBufferShowsNothing) {
  WriteText(&StdOutChannel, "ab", 0);
  StdOutChannel.Flush(&StdOutChannel);  // "ab" collected
  StdOutChannel.Flush(&StdOutChannel);  // empty buffer
  EXPECT_TRUE(ShownBoxes().empty());
  EXPECT_EQ(ErrorTextLength, 2u);
  EXPECT_STREQ(ErrorText, "ab");
}

TEST_F(ChannelTest, BothChannelsShareOneCollection) {
  BindErrorBoxChannel(&StdErrChannel);
  OpenErrorBoxChannel(&StdErrChannel);
  WriteText(&StdErrChannel, "err ", 0);
  StdErrChannel.Flush(&StdErrChannel);
  WriteLine("out");
  WriteLine("");
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{"err out\r\n\r\n"});
}

TEST_F(ChannelTest, CloseWithNothingCollectedShowsNoBox) {
  CloseChannel(&StdOutChannel);
  EXPECT_TRUE(ShownBoxes().empty());
  EXPECT_EQ(StdOutChannel.Mode, kChannelClosed);
}

}  // namespace
