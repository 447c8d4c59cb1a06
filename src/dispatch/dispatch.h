// Corvane's own behaviour: show the help box, or perform the one action
// that argument 1 selects.
#pragma once

#include <stdint.h>

extern int32_t ActionCode;
extern int32_t ConversionStatus;
extern int32_t ForceFlag;

// Exit codes of a run that ends normally.
constexpr uint16_t kExitCompleted = 0;
// The platform refused the action (its call returned FALSE).
constexpr uint16_t kExitActionRefused = 1;

extern const char kHelpCaption[];
extern const char kHelpText[];
extern const char *const HelpSwitches[9];

// Runs once per process. Returns kExitCompleted after the help box and
// after an action the platform accepted, kExitActionRefused otherwise.
uint16_t RunDispatch();

// ActionCode, ConversionStatus and ForceFlag back to 0, for tests.
void ResetDispatch();

void EnableShutdownPrivilege();
void ShowHelp();
