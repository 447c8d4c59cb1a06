#include "cmdline/parse_integer.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <iterator>
#include <random>
#include <string>

namespace {

constexpr int32_t kUntouchedStatus = 12345;

struct Row {
  std::string text;
  int32_t number;
  int32_t status;
};

void ExpectRows(const Row *rows, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE("row " + std::to_string(i) + ": \"" + rows[i].text + "\"");
    int32_t status = kUntouchedStatus;
    EXPECT_EQ(ParseInteger(4, rows[i].text.c_str(), &status), rows[i].number);
    EXPECT_EQ(status, rows[i].status);
  }
}

std::string Repeat(char c, size_t count) { return std::string(count, c); }

TEST(ParseIntegerTest, Examples) {
  const Row rows[] = {
      {"", 0, 1},
      {"0", 0, 0},
      {"16", 16, 0},
      {"+5", 5, 0},
      {"-5", -5, 0},
      {"-0", 0, 0},
      {"007", 7, 0},
      {" 16", 16, 0},
      {"\t\t8", 8, 0},
      {"  +0032", 32, 0},
      {"16x", 0, 3},
      {"16 ", 0, 3},
      {"1 6", 0, 2},
      {"\n5", 0, 1},
      {"1,000", 0, 2},
      {"x", 0, 1},
      {"+", 0, 2},
      {"-", 0, 2},
      {"   ", 0, 4},
      {"- 5", 0, 2},
      {"+-5", 0, 2},
      {"1e3", 0, 2},
      {"1A", 0, 2},
      {"$", 0, 2},
      {"-$", 0, 3},
      {"$FF", 255, 0},
      {"$ff", 255, 0},
      {"$aBcD", 43981, 0},
      {"-$10", -16, 0},
      {"$-1", 0, 2},
      {"$G", 0, 2},
      {"0x20", 0, 2},
      {"&20", 0, 1},
      {"%", 0, 2},
      {"%100000", 32, 0},
      {"%2", 0, 2},
      {"-%1", -1, 0},
      {"2147483647", 2147483647, 0},
      {"2147483648", 0, 10},
      {"-2147483648", INT32_MIN, 0},
      {"-2147483649", 0, 11},
      {"4294967295", 0, 10},
      {"$7FFFFFFF", 2147483647, 0},
      {"$80000000", INT32_MIN, 0},
      {"$FFFFFFFF", -1, 0},
      {"$100000000", 0, 10},
      {"$000000000FF", 255, 0},
      {"-$80000000", INT32_MIN, 0},
      {"-$FFFFFFFF", 1, 0},
      {"%" + Repeat('1', 32), -1, 0},
      {"%" + Repeat('1', 33), 0, 34},
      {Repeat('0', 300) + "7", 0, 0},
      {Repeat(' ', 254) + "5", 5, 0},
      {Repeat(' ', 255) + "5", 0, 256},
  };
  ExpectRows(rows, std::size(rows));
}

TEST(ParseIntegerTest, OnlyBlanksSignAndPrefixAreSkipped) {
  const Row rows[] = {
      {"\r5", 0, 1},     {"\v5", 0, 1},   {"\f5", 0, 1},    {"\x01" "5", 0, 1},
      {" \t 5", 5, 0},   {"+ 5", 0, 2},   {"$ 5", 0, 2},    {"- $5", 0, 2},
      {"$+5", 0, 2},     {"%-1", 0, 2},   {"$%1", 0, 2},    {"%$1", 0, 2},
      {"++5", 0, 2},     {"--5", 0, 2},   {"5-", 0, 2},     {"\t", 0, 2},
      {"+$", 0, 3},      {"-%", 0, 3},    {" -", 0, 3},     {"\xB5", 0, 1},
      {"1\xFF", 0, 2},   {"g", 0, 1},     {"$g", 0, 2},     {"$aG", 0, 3},
      {"%1010", 10, 0},  {"%a", 0, 2},    {"%12", 0, 3},    {"$0", 0, 0},
      {"%0", 0, 0},      {"-%0", 0, 0},   {"-$0", 0, 0},
  };
  ExpectRows(rows, std::size(rows));
}

TEST(ParseIntegerTest, SingleCharacters) {
  for (int c = 1; c <= 255; ++c) {
    SCOPED_TRACE("byte " + std::to_string(c));
    const char text[] = {static_cast<char>(c), 0};
    int32_t status = kUntouchedStatus;
    int32_t number = ParseInteger(4, text, &status);
    if (c >= '0' && c <= '9') {
      EXPECT_EQ(number, c - '0');
      EXPECT_EQ(status, 0);
    } else {
      // Blanks, sign and prefix are taken and then the text has ended.
      bool taken = c == ' ' || c == '\t' || c == '+' || c == '-' || c == '$' ||
                   c == '%';
      EXPECT_EQ(number, 0);
      EXPECT_EQ(status, taken ? 2 : 1);
    }
  }
}

TEST(ParseIntegerTest, LimitsOfEveryBaseAndSign) {
  const std::string ones32 = Repeat('1', 32);
  const Row rows[] = {
      {"2147483647", INT32_MAX, 0},
      {"2147483648", 0, 10},
      {"2147483650", 0, 10},
      {"21474836470", 0, 11},
      {"4294967296", 0, 10},
      {"99999999999", 0, 10},
      {"+2147483647", INT32_MAX, 0},
      {"+2147483648", 0, 11},
      {"-2147483647", -INT32_MAX, 0},
      {"-2147483648", INT32_MIN, 0},
      {"-2147483649", 0, 11},
      {"-2147483650", 0, 11},
      {"-4294967296", 0, 11},
      {"$FFFFFFFF", -1, 0},
      {"$100000000", 0, 10},
      {"$FFFFFFFF0", 0, 10},
      {"$FFFFFFFFF", 0, 10},
      {"-$FFFFFFFF", 1, 0},
      {"-$100000000", 0, 11},
      {"+$FFFFFFFF", -1, 0},
      {"%" + ones32, -1, 0},
      {"%1" + Repeat('0', 31), INT32_MIN, 0},
      {"%1" + Repeat('0', 32), 0, 34},
      {"-%" + ones32, 1, 0},
      {"-%1" + Repeat('0', 31), INT32_MIN, 0},
      {"-%1" + Repeat('0', 32), 0, 35},
      {Repeat('0', 245) + "2147483647", INT32_MAX, 0},
      {"$" + Repeat('0', 246) + "FFFFFFFF", -1, 0},
      {"-%" + Repeat('0', 221) + ones32, 1, 0},
  };
  ExpectRows(rows, std::size(rows));
}

TEST(ParseIntegerTest, OnlyTheFirst255CharactersTakePart) {
  const Row rows[] = {
      {Repeat('0', 254) + "9", 9, 0},
      {Repeat('0', 255) + "9", 0, 0},
      {Repeat('0', 255) + "x", 0, 0},
      {Repeat('0', 254) + "x", 0, 255},
      {Repeat('0', 299) + "x", 0, 0},
      {Repeat(' ', 254) + "x", 0, 255},
      {Repeat(' ', 255), 0, 256},
      {Repeat(' ', 300), 0, 256},
      {Repeat(' ', 254) + "-5", 0, 256},
      {Repeat(' ', 253) + "-5", -5, 0},
      {"-" + Repeat('0', 254), 0, 0},
      {"-" + Repeat('0', 254) + "1", 0, 0},
      {"1" + Repeat('0', 254), 0, 11},
      {Repeat('1', 300), 0, 11},
      {"$" + Repeat('F', 299), 0, 10},
  };
  ExpectRows(rows, std::size(rows));
}

// 255 characters placed so that the byte after the last one is the first
// byte of an inaccessible page: any read beyond character 255 faults.
class GuardedText {
 public:
  GuardedText() {
    pageSize_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    pages_ = static_cast<char *>(mmap(nullptr, 2 * pageSize_, PROT_READ | PROT_WRITE,
                                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (pages_ != MAP_FAILED) mprotect(pages_ + pageSize_, pageSize_, PROT_NONE);
  }
  ~GuardedText() {
    if (pages_ != MAP_FAILED) munmap(pages_, 2 * pageSize_);
  }
  bool Ready() const { return pages_ != MAP_FAILED; }
  // The 255 characters of `text`, without a terminator.
  const char *Place(const std::string &text) {
    char *start = pages_ + pageSize_ - kParseIntegerTextLimit;
    text.copy(start, kParseIntegerTextLimit);
    return start;
  }

 private:
  size_t pageSize_;
  char *pages_;
};

TEST(ParseIntegerTest, NeverReadsBeyondCharacter255) {
  GuardedText guarded;
  ASSERT_TRUE(guarded.Ready());
  const Row rows[] = {
      {Repeat('0', 254) + "7", 7, 0},
      {Repeat(' ', 255), 0, 256},
      {Repeat(' ', 254) + "+", 0, 256},
      {Repeat('0', 254) + "x", 0, 255},
      {"$" + Repeat('0', 246) + "FFFFFFFF", -1, 0},
      {Repeat('1', 255), 0, 11},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    ASSERT_EQ(rows[i].text.size(), size_t(kParseIntegerTextLimit));
    int32_t status = kUntouchedStatus;
    EXPECT_EQ(ParseInteger(4, guarded.Place(rows[i].text), &status), rows[i].number);
    EXPECT_EQ(status, rows[i].status);
  }
}

TEST(ParseIntegerTest, RandomNumbersInEveryBase) {
  std::mt19937 random(42);
  for (int i = 0; i < 20000; ++i) {
    uint32_t bits = random();
    if (i % 4 == 0) bits >>= random() % 32;
    int32_t value = static_cast<int32_t>(bits);
    std::string binary;
    for (uint32_t rest = bits; rest; rest >>= 1) binary.insert(binary.begin(), char('0' + (rest & 1)));
    char decimal[16], hex[16], negatedHex[16];
    snprintf(decimal, sizeof decimal, "%d", value);
    snprintf(hex, sizeof hex, i % 2 ? "$%X" : "$%x", bits);
    snprintf(negatedHex, sizeof negatedHex, "-$%X", 0u - bits);

    const Row rows[] = {
        {decimal, value, 0},
        {hex, value, 0},
        {negatedHex, value, 0},
        {"%" + (binary.empty() ? "0" : binary), value, 0},
    };
    SCOPED_TRACE("value " + std::to_string(value));
    ExpectRows(rows, std::size(rows));
    if (HasFailure()) break;
  }
}

}  // namespace
