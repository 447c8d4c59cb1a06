#include "cmdline/parse_integer.h"

namespace {

constexpr uint32_t kNoDigitValue = 0xFF;
constexpr uint32_t kMagnitudeMax = 0xFFFFFFFFu;
constexpr uint32_t kDecimalPositiveLimit = 0x7FFFFFFFu;
constexpr uint32_t kDecimalNegativeLimit = 0x80000000u;

uint32_t DigitValue(char c) {
  if (c >= '0' && c <= '9') return uint32_t(c - '0');
  if (c >= 'A' && c <= 'F') return uint32_t(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return uint32_t(c - 'a' + 10);
  return kNoDigitValue;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int32_t ParseInteger(int32_t /*width*/, const char *text, int32_t *status) {
  // Positions below are 1-based, so text[p - 1] is the character at p.
  char cut[kParseIntegerTextLimit];
  int32_t length = 0;
  while (length < kParseIntegerTextLimit && text[length] != 0) {
    cut[length] = text[length];
    ++length;
  }

  int32_t p = 1;
  while (p <= length && IsBlank(cut[p - 1])) ++p;

  bool negative = false;
  if (p <= length && (cut[p - 1] == '+' || cut[p - 1] == '-')) {
    negative = cut[p - 1] == '-';
    ++p;
  }

  uint32_t base = 10;
  if (p <= length && cut[p - 1] == '$') {
    base = 16;
    ++p;
  } else if (p <= length && cut[p - 1] == '%') {
    base = 2;
    ++p;
  }

  if (p > length) {
    *status = p;
    return 0;
  }

  uint32_t limit = kMagnitudeMax;
  if (base == 10) limit = negative ? kDecimalNegativeLimit : kDecimalPositiveLimit;
  const uint32_t largestBeforeMultiply = kMagnitudeMax / base;

  uint32_t magnitude = 0;
  for (; p <= length; ++p) {
    uint32_t digit = DigitValue(cut[p - 1]);
    if (digit >= base || magnitude > largestBeforeMultiply ||
        magnitude * base > limit - digit) {
      *status = p;
      return 0;
    }
    magnitude = magnitude * base + digit;
  }

  *status = 0;
  return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}
