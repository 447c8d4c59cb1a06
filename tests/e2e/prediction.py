"""What a command line must make corvane.exe do, as the reference model
predicts it (tests/support/reference_model.cpp, asked through the
build machine's corvane-predict), and what the Wine tests compare a run's
calls with.
"""

import os
import re
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "cases"))
import case_tables  # noqa: E402

HELP_CAPTION, HELP_TEXT = case_tables.HELP_CAPTION, case_tables.HELP_TEXT
HELP_CALL = ("MessageBoxA", 0, HELP_TEXT, HELP_CAPTION, 64)
# The platform calls of the dispatch itself, as opposed to start-up and exit.
DISPATCH_FUNCTIONS = ("MessageBoxA", "OpenProcessToken", "LookupPrivilegeValueA",
                      "AdjustTokenPrivileges", "LockWorkStation", "SetSystemPowerState",
                      "ExitWindowsEx")
PREDICT_SECONDS = 60


def table_call(call):
    """An action table's call as predict() gives it."""
    return HELP_CALL if call == ("help",) else call


def predict(program, command_lines):
    """For each command line the one call it must make after the privilege
    calls, as (function, arguments...), or HELP_CALL."""
    data = b"".join(struct.pack("<I", len(c)) + c for c in command_lines)
    out = subprocess.run([program], input=data, capture_output=True, check=True,
                         timeout=PREDICT_SECONDS).stdout.decode("ascii").splitlines()
    if len(out) != len(command_lines):
        raise RuntimeError("%s answered %d of %d command lines" % (program, len(out), len(command_lines)))
    calls = []
    for line in out:
        call = re.fullmatch(r"(\w+)\((.*)\)", line)
        calls.append(HELP_CALL if line == "help" else
                     (call.group(1),) + tuple(int(a) for a in call.group(2).split(", ") if a))
    return calls
