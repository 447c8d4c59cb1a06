// Zero-terminated texts.
#pragma once

#include <stdint.h>

inline int32_t TextLength(const char *text) {
  int32_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

inline bool TextsEqual(const char *a, const char *b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}
