// The dispatch for any command line: one help box and nothing else, or the
// three privilege calls and then exactly the action the reference model
// predicts for argument 1; the exit code follows the action's result.
#include <stdint.h>

#include <string>
#include <vector>

#include "cmdline/argument_list.h"
#include "dispatch/dispatch.h"
#include "fake_platform.h"
#include "fake_storage.h"
#include "fuzz_check.h"
#include "reference_model.h"

namespace {

constexpr size_t kShownBytes = 300;
constexpr uintptr_t kToken = 4660;
constexpr PlatformLuid kShutdownLuid = {19, 0};
constexpr uint16_t kExitCompletedCode = 0;
constexpr uint16_t kExitRefusedCode = 1;

std::vector<std::string> ExpectedCalls(const ReferenceDispatch &expected) {
  if (expected.help)
    return {"MessageBoxA(0, " + QuotedText(ReferenceHelpText()) + ", \"About Corvane\", 64)"};
  return {"OpenProcessToken(-1, 40, out)",
          "LookupPrivilegeValueA(\"\", \"SeShutdownPrivilege\", out)",
          "AdjustTokenPrivileges(" + std::to_string(kToken) + ", 0, {1, {" +
              std::to_string(kShutdownLuid.LowPart) + ", " +
              std::to_string(kShutdownLuid.HighPart) + "}, 2}, 0, NULL, NULL)",
          expected.action};
}

std::string Joined(const std::vector<std::string> &calls) {
  std::string joined;
  for (const std::string &call : calls) joined += "\n  " + Printable(call);
  return joined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string commandLine;
  for (size_t i = 0; i < size; ++i)
    if (data[i] != 0) commandLine += static_cast<char>(data[i]);

  ResetFakePlatform();
  ResetFakeStorage();
  ResetArgumentList();
  ResetDispatch();
  FakePlatform.commandLine = commandLine;
  FakePlatform.token = reinterpret_cast<PlatformHandle>(kToken);
  FakePlatform.luid = kShutdownLuid;
  // Half of the inputs meet a platform that refuses the action.
  const bool actionGranted = size % 2 == 0;
  FakePlatform.actionResult = actionGranted ? 1 : 0;
  BuildArgumentList();
  FakeCalls.clear();
  const uint16_t exitCode = RunDispatch();

  const ReferenceDispatch expected = ReferencePredictDispatch(commandLine);
  const std::vector<std::string> calls = DescribeCalls();
  auto shown = [&] {
    return "command line \"" + Printable(commandLine.substr(0, kShownBytes)) +
           "\", argument 1 \"" + Printable(GetArgument(1)) + "\"";
  };
  FUZZ_CHECK(calls == ExpectedCalls(expected),
             shown() + "\nexpected calls:" + Joined(ExpectedCalls(expected)) +
                 "\nmade:" + Joined(calls));
  FUZZ_CHECK(ActionCode == expected.actionCode && ConversionStatus == expected.conversionStatus &&
                 ForceFlag == expected.forceFlag,
             shown() + ": ActionCode " + std::to_string(ActionCode) + " status " +
                 std::to_string(ConversionStatus) + " force " + std::to_string(ForceFlag) +
                 ", expected " + std::to_string(expected.actionCode) + " status " +
                 std::to_string(expected.conversionStatus) + " force " +
                 std::to_string(expected.forceFlag));
  const uint16_t expectedExit =
      expected.help || actionGranted ? kExitCompletedCode : kExitRefusedCode;
  FUZZ_CHECK(exitCode == expectedExit,
             shown() + ": exit code " + std::to_string(exitCode) + ", expected " +
                 std::to_string(expectedExit));
  ResetFakeStorage();
  return 0;
}
