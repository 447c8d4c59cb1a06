#include "fuzz_check.h"

#include <stdio.h>
#include <stdlib.h>

void FuzzFailure(const char *file, int line, const char *check,
                 const std::string &detail) {
  fprintf(stderr, "\n%s:%d: check failed: %s\n%s\n", file, line, check,
          detail.c_str());
  fflush(stderr);
  abort();
}
