// ReportRuntimeError for host tests: throws instead of ending the process.
// Linked only by binaries that do not contain the real error path.
#pragma once

#include <stdint.h>

#include "frame/runtime_error.h"

struct FakeRuntimeError {
  uint16_t number;
  uint32_t address;
  uint32_t frame;
};
