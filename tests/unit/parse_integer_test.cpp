#include "cmdline/parse_integer.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <random>
#include <string>

#include "case_tables.h"
#include "reference_model.h"

namespace {

constexpr int32_t kUntouchedStatus = 12345;

// Each row of tests/cases/conversion.txt, and the reference model on it.
TEST(ParseIntegerTest, ConvertsEveryRowOfTheTable) {
  for (size_t i = 0; i < kConversionCases.size(); ++i) {
    const ConversionCase &row = kConversionCases[i];
    SCOPED_TRACE("row " + std::to_string(i) + ": \"" + Printable(row.text) + "\"");
    ReferenceNumber model = ReferenceParseInteger(row.text);
    EXPECT_EQ(model.value, row.number) << "the reference model";
    EXPECT_EQ(model.status, row.status) << "the reference model";
    int32_t status = kUntouchedStatus;
    EXPECT_EQ(ParseInteger(4, row.text.c_str(), &status), row.number);
    EXPECT_EQ(status, row.status);
  }
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

// The first 255 characters of every row that has as many, unterminated:
// the rest of a row never takes part.
TEST(ParseIntegerTest, NeverReadsBeyondCharacter255) {
  GuardedText guarded;
  ASSERT_TRUE(guarded.Ready());
  for (size_t i = 0; i < kConversionCases.size(); ++i) {
    const ConversionCase &row = kConversionCases[i];
    if (row.text.size() < size_t(kParseIntegerTextLimit)) continue;
    SCOPED_TRACE("row " + std::to_string(i) + ": \"" + Printable(row.text) + "\"");
    int32_t status = kUntouchedStatus;
    EXPECT_EQ(ParseInteger(4, guarded.Place(row.text), &status), row.number);
    EXPECT_EQ(status, row.status);
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

    SCOPED_TRACE("value " + std::to_string(value));
    for (const std::string &text : {std::string(decimal), std::string(hex), std::string(negatedHex),
                                   "%" + (binary.empty() ? "0" : binary)}) {
      int32_t status = kUntouchedStatus;
      EXPECT_EQ(ParseInteger(4, text.c_str(), &status), value) << text;
      EXPECT_EQ(status, 0) << text;
    }
    if (HasFailure()) break;
  }
}

}  // namespace
