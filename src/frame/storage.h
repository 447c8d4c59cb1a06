// Run-time storage: the few texts and the argument table of one run.
#pragma once

#include <stdint.h>

// Makes the storage manager ready, or ready again: no block handed out,
// nothing obtained from the platform yet. Memory is obtained on the first
// request.
void PrepareStorage();

// Returns a block of at least `bytes` bytes (bytes >= 0), aligned to 8.
// Never returns null: when the platform has no memory left, the run ends
// with run-time error 203.
void *AllocateStorage(int32_t bytes);

// Returns a block of `newBytes` whose first min(oldBytes, newBytes) bytes are
// those of `block`, which holds `oldBytes`; a null `block` holds none. The
// old block must not be used afterwards. The storage manager keeps its own
// record of each block's size; the tests' stand-in checks `oldBytes`.
void *ResizeStorage(void *block, int32_t oldBytes, int32_t newBytes);
