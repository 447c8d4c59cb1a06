#include "dispatch/dispatch.h"

#include "cmdline/argument_list.h"
#include "cmdline/parse_integer.h"
#include "frame/text.h"
#include "platform/platform.h"

int32_t ActionCode;
int32_t ConversionStatus;
int32_t ForceFlag;

// Lines are separated by a lone carriage return: that is how the box
// breaks them, and a line feed would show as an extra glyph on some systems.
const char kHelpCaption[] = "About Corvane";
const char kHelpText[] =
    "Corvane lets you leave Windows immediately.\r"
    "\r"
    "Usage: Corvane ? or Corvane H shows this help.\r"
    "Corvane 0 or Corvane without parameters locks the workstation.\r"
    "Corvane 1 switches the workstation to Suspend-mode.\r"
    "Corvane 2 switches the workstation to Standby-mode.\r"
    "Corvane 4 logs off the current user.\r"
    "Corvane 8 reboots the workstation.\r"
    "Corvane 16 shuts down the workstation.\r"
    "\r"
    "You can add 32 to this parameter to force the action without\r"
    "waiting for hanging applications (could loss data !).\r"
    "\r"
    "";

const char *const HelpSwitches[9] = {"-?", "/?", "?",  "-H", "/H",
                                     "-h", "/h", "H",  "h"};

namespace {

constexpr uint32_t kMbIconInformation = 64;
constexpr uint32_t kTokenAdjustPrivileges = 32;
constexpr uint32_t kTokenQuery = 8;
constexpr uint32_t kSePrivilegeEnabled = 2;
constexpr int32_t kForceBit = 32;

constexpr int32_t kSuspendBit = 1;
constexpr int32_t kHibernateBit = 2;
constexpr int32_t kLogOffBit = 4;
constexpr int32_t kRebootBit = 8;
constexpr int32_t kShutDownBit = 16;

constexpr uint32_t kEwxLogOff = 0;
constexpr uint32_t kEwxReboot = 2;
constexpr uint32_t kEwxShutdownPowerOff = 1 | 8;
constexpr uint32_t kEwxForce = 4;

const char kShutdownPrivilegeName[] = "SeShutdownPrivilege";
const char kLocalSystem[] = "";

PlatformBool RunAction(int32_t action, int32_t force) {
  if (action & kSuspendBit) return SetSystemPowerState(1, force);
  if (action & kHibernateBit) return SetSystemPowerState(0, force);
  uint32_t forceFlags = force ? kEwxForce : 0;
  if (action & kLogOffBit) return ExitWindowsEx(kEwxLogOff | forceFlags, 0);
  if (action & kRebootBit) return ExitWindowsEx(kEwxReboot | forceFlags, 0);
  if (action & kShutDownBit)
    return ExitWindowsEx(kEwxShutdownPowerOff | forceFlags, 0);
  return LockWorkStation();
}

}  // namespace

void ShowHelp() {
  MessageBoxA(nullptr, kHelpText, kHelpCaption, kMbIconInformation);
}

void EnableShutdownPrivilege() {
  PlatformHandle token = nullptr;
  PlatformTokenPrivileges privileges = {};
  OpenProcessToken(CurrentProcess(), kTokenAdjustPrivileges | kTokenQuery,
                   &token);
  LookupPrivilegeValueA(kLocalSystem, kShutdownPrivilegeName,
                        &privileges.Luid);
  privileges.PrivilegeCount = 1;
  privileges.Attributes = kSePrivilegeEnabled;
  AdjustTokenPrivileges(token, 0, &privileges, 0, nullptr, nullptr);
}

void ResetDispatch() {
  ActionCode = 0;
  ConversionStatus = 0;
  ForceFlag = 0;
}

uint16_t RunDispatch() {
  for (const char *helpSwitch : HelpSwitches) {
    if (TextsEqual(GetArgument(1), helpSwitch)) {
      ShowHelp();
      return kExitCompleted;
    }
  }
  ActionCode = ParseInteger(4, GetArgument(1), &ConversionStatus);
  ForceFlag = (ActionCode & kForceBit) == kForceBit ? 1 : 0;
  EnableShutdownPrivilege();
  return RunAction(ActionCode, ForceFlag) ? kExitCompleted : kExitActionRefused;
}
