// How the command line and the dispatch must behave, written from their
// rules alone; the help switches and the help text come from the tables in
// tests/cases/. It shares no code with the program, so the fuzz targets and
// the differential Wine check (through tests/e2e/tools/predict.cpp) can
// hold the two against each other.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The program keeps this many characters of a text it converts.
constexpr size_t kReferenceKeptCharacters = 255;

struct ReferenceNumber {
  int32_t value;
  int32_t status;
};

// The text ends at its first zero byte, if any.
ReferenceNumber ReferenceParseInteger(const std::string &text);

// Every word of the command line, the program-name word included, with the
// quoting removed. The line ends at its first zero byte, if any.
std::vector<std::string> ReferenceSplitWords(const std::string &commandLine);

// A quoted form of `word` that splits back into exactly `word`. Ordinary
// bytes go between `primaryQuote`s, runs of that quote between the other.
std::string ReferenceQuoteWord(const std::string &word, char primaryQuote);

struct ReferenceDispatch {
  bool help;
  int32_t actionCode;
  int32_t conversionStatus;
  int32_t forceFlag;
  // The one call after the privilege calls, rendered like the fake
  // platform's record, e.g. "ExitWindowsEx(13, 0)"; empty for help.
  std::string action;
};

ReferenceDispatch ReferencePredictDispatch(const std::string &commandLine);

// The help box's text: the table's lines joined by single carriage returns.
std::string ReferenceHelpText();

// The bytes of `text` with everything outside 33..126 escaped, for messages.
std::string Printable(const std::string &text);
