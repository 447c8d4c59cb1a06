// The registered fault filter: the portable decision, with the address of
// the machine-code resume routine.
#include "frame/fault_report.h"
#include "frame/process_frame.h"

extern "C" void ResumeIntoErrorPath();

int32_t PLATFORM_CALLBACK FaultFilter(PlatformExceptionPointers *pointers) {
  return FilterFault(pointers, reinterpret_cast<uint32_t>(&ResumeIntoErrorPath));
}
