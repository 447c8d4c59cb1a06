// The compiler may emit calls to these for block copies and clears even
// without a C runtime, so the image brings its own.
#include <stddef.h>

extern "C" void *memset(void *destination, int value, size_t count) {
  unsigned char *d = static_cast<unsigned char *>(destination);
  while (count--) *d++ = static_cast<unsigned char>(value);
  return destination;
}

extern "C" void *memcpy(void *destination, const void *source, size_t count) {
  unsigned char *d = static_cast<unsigned char *>(destination);
  const unsigned char *s = static_cast<const unsigned char *>(source);
  while (count--) *d++ = *s++;
  return destination;
}
