#include "cmdline/argument_list.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "case_tables.h"
#include "fake_platform.h"
#include "fake_process_test.h"
#include "fake_storage.h"
#include "reference_model.h"

namespace {

const std::string kPath = "C:\\Program Files\\Corvane\\Corvane.exe";
constexpr uint32_t kModulePathCapacity = 255;

class ArgumentListTest : public FakeProcessTest {
 protected:
  void SetUp() override { Reset(); }

  static void Reset() {
    ResetFakeProcess();
    FakePlatform.modulePath = kPath;
  }

  static void Build(const std::string &commandLine) {
    Reset();
    FakePlatform.commandLine = commandLine;
    BuildArgumentList();
  }
};

std::string Argument(int32_t index) { return GetArgument(index); }

// Every entry that GetArgument hands out, from 0 to ArgumentCount - 1.
std::vector<std::string> Arguments() {
  std::vector<std::string> arguments;
  for (int32_t i = 0; i < ArgumentCount; ++i) arguments.push_back(Argument(i));
  return arguments;
}

std::vector<std::string> WithPath(std::vector<std::string> words) {
  words.insert(words.begin(), kPath);
  return words;
}

std::string Byte(int value) { return std::string(1, static_cast<char>(value)); }

// Each row of tests/cases/split.txt, and the reference model on it.
TEST_F(ArgumentListTest, SplitsEveryRowOfTheTable) {
  for (size_t i = 0; i < kSplitCases.size(); ++i) {
    const SplitCase &row = kSplitCases[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": " + Printable(row.commandLine));
    EXPECT_EQ(ReferenceSplitWords(row.commandLine), row.words) << "the reference model";
    Build(row.commandLine);

    // Entry 0 is the module path, stored even when the line holds no word;
    // each entry gets exactly its length plus the zero byte.
    const std::vector<std::string> after(row.words.begin() + (row.words.empty() ? 0 : 1),
                                         row.words.end());
    std::vector<int32_t> entrySizes = {int32_t(kPath.size()) + 1};
    for (const std::string &word : after) entrySizes.push_back(int32_t(word.size()) + 1);
    EXPECT_EQ(AllocationSizes(), entrySizes);

    EXPECT_EQ(ArgumentCount, int32_t(row.words.size()));
    EXPECT_EQ(std::string(ModulePathBuffer), kPath);
    EXPECT_EQ(Arguments(), row.words.empty() ? std::vector<std::string>{} : WithPath(after));
    for (int32_t k = 0; k < ArgumentCount; ++k)
      EXPECT_EQ(std::string(ArgumentList[k]), Argument(k)) << "entry " << k;
    EXPECT_EQ(Argument(ArgumentCount), "");
  }
}

TEST_F(ArgumentListTest, ControlCharactersAndBlankSeparateWords) {
  for (int c = 1; c <= 32; ++c) {
    SCOPED_TRACE("byte " + std::to_string(c));
    std::string s = Byte(c);
    Build(s + s + "Corvane" + s + "16" + s + s + "32" + s);
    EXPECT_EQ(Arguments(), WithPath({"16", "32"}));
  }
}

TEST_F(ArgumentListTest, BytesFrom127AreOrdinary) {
  for (int c = 127; c <= 255; ++c) {
    SCOPED_TRACE("byte " + std::to_string(c));
    std::string s = Byte(c);
    Build("Corvane a" + s + "b " + s + " '" + s + "'");
    EXPECT_EQ(Arguments(), WithPath({"a" + s + "b", s, s}));
  }
}

TEST_F(ArgumentListTest, ArgumentZeroIsTheModulePathNotTheTypedName) {
  Build("corv 16");
  EXPECT_EQ(Arguments(), WithPath({"16"}));
  EXPECT_EQ(DescribeCalls(), (std::vector<std::string>{
                                 "GetModuleFileNameA(0, out, 255)",
                                 "GetCommandLineA()"}));
}

TEST_F(ArgumentListTest, LongModulePathIsCutToTheOfferedCapacity) {
  struct Row {
    size_t pathLength;
    ModulePathCut cut;
    size_t argumentLength;
  };
  const Row rows[] = {
      {254, ModulePathCut::TerminatedWithinSize, 254},
      {255, ModulePathCut::TerminatedWithinSize, 254},
      {300, ModulePathCut::TerminatedWithinSize, 254},
      {254, ModulePathCut::FilledWithoutTerminator, 254},
      {255, ModulePathCut::FilledWithoutTerminator, 255},
      {300, ModulePathCut::FilledWithoutTerminator, 255},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    std::string path = "C:\\";
    while (path.size() < rows[i].pathLength) path += char('a' + path.size() % 26);
    Reset();
    FakePlatform.modulePath = path;
    FakePlatform.modulePathCut = rows[i].cut;
    FakePlatform.commandLine = "Corvane 16";
    BuildArgumentList();

    EXPECT_EQ(FakeCalls.at(0).arguments.at(2), std::to_string(kModulePathCapacity));
    EXPECT_EQ(Argument(0), path.substr(0, rows[i].argumentLength));
    EXPECT_EQ(ModulePathBuffer[255], 0);
    EXPECT_EQ(Argument(1), "16");
  }
}

TEST_F(ArgumentListTest, LastPathBufferByteIsNeverWritten) {
  Reset();
  FakePlatform.modulePath = std::string(400, 'p');
  FakePlatform.commandLine = "Corvane";
  const char kSentinel = 'Z';
  ModulePathBuffer[255] = kSentinel;
  BuildArgumentList();
  EXPECT_EQ(ModulePathBuffer[255], kSentinel);
  EXPECT_EQ(Argument(0), std::string(254, 'p'));
}

TEST_F(ArgumentListTest, OutOfRangeIndexGivesEmptyText) {
  Build("Corvane 16 32");
  const int32_t indexes[] = {-1, INT32_MIN, ArgumentCount, ArgumentCount + 1,
                             INT32_MAX};
  for (int32_t index : indexes) EXPECT_EQ(Argument(index), "") << "index " << index;
}

TEST_F(ArgumentListTest, EachFetchIsAFreshCopy) {
  Build("Corvane 16");
  char *first = GetArgument(1);
  char *second = GetArgument(1);
  EXPECT_NE(first, second);
  EXPECT_NE(first, ArgumentList[1]);
  first[0] = 'x';
  EXPECT_EQ(Argument(1), "16");
  EXPECT_EQ(std::string(second), "16");
  char *empty = GetArgument(5);
  EXPECT_NE(empty, GetArgument(5));
}

TEST_F(ArgumentListTest, TableGrowsInStepsOfEightThenFitsTheCount) {
  struct Row {
    int words;  // after the program name
    std::vector<int32_t> slots;
  };
  const Row rows[] = {
      {0, {8, 2}},      {6, {8, 8}},       {7, {8, 9}},
      {8, {8, 16, 10}}, {15, {8, 16, 17}}, {16, {8, 16, 24, 18}},
      {17, {8, 16, 24, 19}},
  };
  const int32_t slotBytes = sizeof(char *);
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    std::string commandLine = "Corvane";
    for (int w = 0; w < rows[i].words; ++w) commandLine += " " + std::to_string(w);
    Build(commandLine);

    std::vector<int32_t> expected;
    for (int32_t slots : rows[i].slots) expected.push_back(slots * slotBytes);
    EXPECT_EQ(ResizeSizes(), expected);
    // Each resize starts from the size the table had.
    int32_t tableBytes = 0;
    for (const StorageRequest &request : StorageRequests) {
      if (!request.resize) continue;
      EXPECT_EQ(request.oldBytes, tableBytes);
      tableBytes = request.newBytes;
    }
    EXPECT_EQ(ArgumentCount, rows[i].words + 1);
    EXPECT_EQ(ArgumentSlotCount, ArgumentCount + 1);
    EXPECT_EQ(Argument(rows[i].words), rows[i].words ? std::to_string(rows[i].words - 1) : kPath);
  }
}

TEST_F(ArgumentListTest, EmptyCommandLineTableFitsOneSlot) {
  Build("");
  EXPECT_EQ(ResizeSizes(), (std::vector<int32_t>{8 * int32_t(sizeof(char *)),
                                                 int32_t(sizeof(char *))}));
  EXPECT_EQ(ArgumentSlotCount, 1);
}

TEST_F(ArgumentListTest, HundredThousandByteCommandLines) {
  const size_t kLength = 100000;
  const std::string word(kLength, '7');
  Build("Corvane " + word);
  EXPECT_EQ(Arguments(), WithPath({word}));
  EXPECT_EQ(AllocationSizes().at(1), int32_t(kLength) + 1);

  std::string separators;
  for (size_t i = 0; i < kLength; ++i) separators += Byte(1 + i % 32);
  Build(separators);
  EXPECT_EQ(ArgumentCount, 0);

  std::string quoted;
  for (size_t i = 0; quoted.size() < kLength; ++i)
    if (1 + i % 255 != '\'') quoted += Byte(1 + i % 255);
  Build("Corvane '" + quoted);
  EXPECT_EQ(Arguments(), WithPath({quoted}));

  std::string manyWords = "Corvane";
  std::vector<std::string> words;
  while (manyWords.size() < kLength) {
    manyWords += " x";
    words.push_back("x");
  }
  Build(manyWords);
  EXPECT_EQ(Arguments(), WithPath(words));
}

// A command line put together from random pieces, and the words it must
// split into: plain stretches, closed quoted stretches holding any bytes
// but their own quote, separator runs between words, and sometimes a last
// word whose quote never closes.
struct GeneratedCommandLine {
  std::string text;
  std::vector<std::string> words;  // after the program name
};

GeneratedCommandLine GenerateCommandLine(std::mt19937 &random, int wordCount) {
  auto pick = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  auto quotedBytes = [&](char quote) {
    std::string bytes;
    for (int n = pick(0, 6); n > 0; --n) {
      int c;
      do c = pick(1, 255);
      while (c == quote);
      bytes += Byte(c);
    }
    return bytes;
  };
  auto separators = [&](int least) {
    std::string run;
    for (int n = pick(least, 3); n > 0; --n) run += Byte(pick(1, 32));
    return run;
  };

  GeneratedCommandLine generated;
  for (int w = 0; w <= wordCount; ++w) {
    generated.text += separators(w == 0 ? 0 : 1);
    std::string word;
    for (int pieces = pick(1, 3); pieces > 0; --pieces) {
      if (pick(0, 2) == 0) {
        for (int n = pick(1, 5); n > 0; --n) {
          int c;
          do c = pick(33, 255);
          while (c == '"' || c == '\'');
          generated.text += Byte(c);
          word += Byte(c);
        }
      } else {
        char quote = pick(0, 1) ? '"' : '\'';
        std::string inside = quotedBytes(quote);
        generated.text += quote + inside + quote;
        word += inside;
      }
    }
    if (w > 0) generated.words.push_back(word);
  }
  if (pick(0, 3) == 0) {
    char quote = pick(0, 1) ? '"' : '\'';
    std::string rest = quotedBytes(quote) + separators(1) + quotedBytes(quote);
    generated.text += separators(1) + quote + rest;
    generated.words.push_back(rest);
  } else {
    generated.text += separators(0);
  }
  return generated;
}

TEST_F(ArgumentListTest, TenThousandRandomWords) {
  std::mt19937 random(20240611);
  GeneratedCommandLine generated = GenerateCommandLine(random, 10000);
  Build(generated.text);
  EXPECT_EQ(ArgumentCount, int32_t(generated.words.size()) + 1);
  EXPECT_EQ(Arguments(), WithPath(generated.words));
}

TEST_F(ArgumentListTest, RandomCommandLinesSplitAsGenerated) {
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    GeneratedCommandLine generated = GenerateCommandLine(random, i % 12);
    SCOPED_TRACE("case " + std::to_string(i));
    Build(generated.text);
    ASSERT_EQ(Arguments(), WithPath(generated.words));
  }
}

}  // namespace
