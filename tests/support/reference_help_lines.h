// The help box's lines as a user should read them, written out on their own
// rather than taken from the program, so a changed program text shows up.
#pragma once

inline const char *const kReferenceHelpLines[] = {
    "Corvane lets you leave Windows immediately.",
    "",
    "Usage: Corvane ? or Corvane H shows this help.",
    "Corvane 0 or Corvane without parameters locks the workstation.",
    "Corvane 1 switches the workstation to Suspend-mode.",
    "Corvane 2 switches the workstation to Standby-mode.",
    "Corvane 4 logs off the current user.",
    "Corvane 8 reboots the workstation.",
    "Corvane 16 shuts down the workstation.",
    "",
    "You can add 32 to this parameter to force the action without",
    "waiting for hanging applications (could loss data !).",
    "",
    "",
};
