// Process entry: argument list, one dispatch, exit.
#include "cmdline/argument_list.h"
#include "dispatch/dispatch.h"
#include "frame/runtime_error.h"
#include "platform/platform.h"

extern "C" [[noreturn]] void __stdcall ProcessEntry() {
  BuildArgumentList();
  ExitProcess(RunDispatch());
}

void ReportRuntimeError(uint16_t number, uint32_t, uint32_t) {
  ExitProcess(number);
}
