#include "fake_runtime_error.h"

void ReportRuntimeError(uint16_t number, uint32_t address, uint32_t frame) {
  throw FakeRuntimeError{number, address, frame};
}
