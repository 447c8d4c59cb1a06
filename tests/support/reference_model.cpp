#include "reference_model.h"

#include "case_tables.h"

namespace {

std::string UpToZero(const std::string &text) {
  return text.substr(0, text.find('\0'));
}

// -1 when the byte is no digit in any base.
int64_t DigitOf(char c) {
  static const std::string kLower = "0123456789abcdef";
  static const std::string kUpper = "0123456789ABCDEF";
  size_t at = kLower.find(c);
  if (at == std::string::npos) at = kUpper.find(c);
  return at == std::string::npos || c == 0 ? -1 : static_cast<int64_t>(at);
}

std::string Decimal(int64_t value) { return std::to_string(value); }

}  // namespace

ReferenceNumber ReferenceParseInteger(const std::string &input) {
  std::string text = UpToZero(input);
  if (text.size() > kReferenceKeptCharacters) text.resize(kReferenceKeptCharacters);
  const size_t end = text.size();
  // Statuses are 1-based positions.
  auto stoppedAt = [](size_t index) {
    return ReferenceNumber{0, static_cast<int32_t>(index + 1)};
  };

  size_t i = 0;
  while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < end && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t base = 10;
  if (i < end && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < end && text[i] == '%') {
    base = 2;
    ++i;
  }
  if (i == end) return stoppedAt(i);

  const int64_t limit = base != 10 ? int64_t{0xFFFFFFFF}
                        : negative ? int64_t{2147483648}
                                   : int64_t{2147483647};
  int64_t magnitude = 0;
  for (; i < end; ++i) {
    int64_t digit = DigitOf(text[i]);
    if (digit < 0 || digit >= base) return stoppedAt(i);
    magnitude = magnitude * base + digit;  // below 2^37: no overflow
    if (magnitude > limit) return stoppedAt(i);
  }
  int64_t pattern = (negative ? -magnitude : magnitude) & 0xFFFFFFFF;
  if (pattern >= int64_t{1} << 31) pattern -= int64_t{1} << 32;
  return ReferenceNumber{static_cast<int32_t>(pattern), 0};
}

std::vector<std::string> ReferenceSplitWords(const std::string &input) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char openQuote = 0;
  for (char c : UpToZero(input)) {
    if (openQuote != 0) {
      if (c == openQuote)
        openQuote = 0;
      else
        word += c;
    } else if (static_cast<unsigned char>(c) <= ' ') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      inWord = true;
      if (c == '"' || c == '\'')
        openQuote = c;
      else
        word += c;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::string ReferenceQuoteWord(const std::string &word, char primaryQuote) {
  const char otherQuote = primaryQuote == '"' ? '\'' : '"';
  if (word.empty()) return std::string(2, primaryQuote);
  std::string quoted;
  size_t i = 0;
  while (i < word.size()) {
    const bool quoteRun = word[i] == primaryQuote;
    const char wrap = quoteRun ? otherQuote : primaryQuote;
    size_t j = i;
    while (j < word.size() && (word[j] == primaryQuote) == quoteRun) ++j;
    quoted += wrap;
    quoted.append(word, i, j - i);
    quoted += wrap;
    i = j;
  }
  return quoted;
}

std::string ReferenceHelpText() {
  std::string text;
  for (size_t i = 0; i < kHelpLines.size(); ++i) text += (i ? "\r" : "") + kHelpLines[i];
  return text;
}

ReferenceDispatch ReferencePredictDispatch(const std::string &commandLine) {
  const std::vector<std::string> words = ReferenceSplitWords(commandLine);
  const std::string argument = words.size() > 1 ? words[1] : std::string();
  for (const HelpSwitchCase &row : kHelpSwitchCases)
    if (row.help && argument == row.argument) return ReferenceDispatch{true, 0, 0, 0, ""};

  const ReferenceNumber number = ReferenceParseInteger(argument);
  const uint32_t bits = static_cast<uint32_t>(number.value);
  const int64_t force = (bits >> 5) & 1;
  std::string action;
  if (bits & 1)
    action = "SetSystemPowerState(1, " + Decimal(force) + ")";
  else if (bits & 2)
    action = "SetSystemPowerState(0, " + Decimal(force) + ")";
  else if (bits & 4)
    action = "ExitWindowsEx(" + Decimal(0 + 4 * force) + ", 0)";
  else if (bits & 8)
    action = "ExitWindowsEx(" + Decimal(2 + 4 * force) + ", 0)";
  else if (bits & 16)
    action = "ExitWindowsEx(" + Decimal(9 + 4 * force) + ", 0)";
  else
    action = "LockWorkStation()";
  return ReferenceDispatch{false, number.value, number.status,
                           static_cast<int32_t>(force), action};
}

std::string Printable(const std::string &text) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte > 32 && byte < 127 && c != '\\') {
      shown += c;
    } else {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    }
  }
  return shown;
}
