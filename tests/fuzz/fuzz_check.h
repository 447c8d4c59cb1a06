// Failure reporting shared by the fuzz targets. A failed check prints what
// was expected and aborts, which libFuzzer and the replay runner both
// treat as a finding.
#pragma once

#include <string>

[[noreturn]] void FuzzFailure(const char *file, int line, const char *check,
                              const std::string &detail);

#define FUZZ_CHECK(condition, detail)                              \
  do {                                                             \
    if (!(condition)) FuzzFailure(__FILE__, __LINE__, #condition, (detail)); \
  } while (0)
