// Text to signed 32-bit integer: optional blanks, one sign, an optional
// base prefix ("$" hexadecimal, "%" binary), then digits up to the end.
#pragma once

#include <stdint.h>

// Only the first kParseIntegerTextLimit characters of `text` take part.
constexpr int32_t kParseIntegerTextLimit = 255;

// Returns the number, or 0 when the text is not a complete number within
// range. `*status` is 0 on success, otherwise the 1-based position where
// reading stopped. Only width 4 is supported: the limits depend on the base
// and the sign alone. Allocates nothing and reads each character once.
int32_t ParseInteger(int32_t width, const char *text, int32_t *status);
