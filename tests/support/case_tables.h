// The rows of Corvane's behaviour, from the tables in tests/cases/, which
// tests/cases/case_tables.py writes out as C++ at build time.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct SplitCase {
  std::string commandLine;
  std::vector<std::string> words;  // every word, the program's own first
};

struct ConversionCase {
  std::string text;
  int32_t number;
  int32_t status;
};

struct ActionCase {
  std::string commandLine;
  int32_t actionCode;
  int32_t conversionStatus;
  int32_t forceFlag;
  bool help;
  // The call after the privilege calls as the fake platform renders it,
  // e.g. "ExitWindowsEx(13, 0)"; empty for help.
  std::string call;
};

// An argument 1 that shows the help box, or a look-alike that is converted.
struct HelpSwitchCase {
  std::string argument;
  std::string commandLine;  // "Corvane" and the argument, quoted if need be
  bool help;
  int32_t conversionStatus;
};

extern const std::vector<SplitCase> kSplitCases;
extern const std::vector<ConversionCase> kConversionCases;
extern const std::vector<ActionCase> kActionCases;
extern const std::vector<HelpSwitchCase> kHelpSwitchCases;
extern const std::vector<std::string> kHelpLines;
