"""corvane.exe as a black box: exact command lines in, platform calls,
boxes and exit codes out.

    python3 test_spine.py --exe build/win32/corvane.exe [--launcher ...]
"""

import argparse
import sys
import unittest

import model
from winetest import WineSession, run_tests

EXE = None
LAUNCHER = None
wine = None

# Wine's LockWorkStation is a stub that returns FALSE, so a lock ends with
# exit code 1 (action refused) here. On Windows, in an interactive session,
# it succeeds and the run ends with 0.
LOCK_EXIT_CODE_UNDER_WINE = 1
# Wine's SetSystemPowerState suspends nothing and reports success at once.
# On Windows it returns only once the machine has woken up, and fails (exit
# code 1) when it did not suspend.
POWER_EXIT_CODE_UNDER_WINE = 0

FORCE_FLAG = 4
SESSION_END_ROUNDS = 5

DISPATCH_FUNCTIONS = model.DISPATCH_FUNCTIONS

# Command lines and the argument 1 they must give. The first group is the
# splitter's reference table; the second shows argument 1 through the action
# it selects, so that a wrong split changes what the run does.
SPLIT_ROWS = [
    (b"Corvane 16", b"16"),
    (b"Corvane", b""),
    (b"Corvane   ", b""),
    (b"Corvane 16 32", b"16"),
    (b'Corvane "1 6"', b"1 6"),
    (b"Corvane 'x y'", b"x y"),
    (b"Corvane\t16", b"16"),
    (b"Corvane 1\t6", b"1"),
    (b'Corvane " 16"', b" 16"),
    (b'"D:\\Program Files\\Corvane.exe" 16', b"16"),
    (b"E:\\A'B\\Corvane.exe 16", b""),
    (b'"Corvane 16"', b""),
    (b'Corvane "16', b"16"),
    (b'Corvane 1"6 3"2 x', b"16 32"),
    (b'Corvane "it\'s"', b"it's"),
    (b"Corvane 'say \"hi\"'", b'say "hi"'),
    (b'Corvane "a""b"', b"ab"),
    (b'Corvane \\"16\\"', b"\\16\\"),
    (b'Corvane "D:\\dir\\" 16', b"D:\\dir\\"),
    (b'Corvane ""', b""),
    (b'Corvane "" 16', b""),
    (b'Corvane "/?"', b"/?"),
    # argument 1 made visible through its number
    (b'Corvane 1"6"', b"16"),
    (b"Corvane '1'6", b"16"),
    (b'"E:\\A\'B\\Corvane.exe" 16', b"16"),
    (b"Corvane\r\n8 16", b"8"),
    (b"\x01\x02 \x1fCorvane\x1f4", b"4"),
    (b"16", b""),
    (b"Corvane \"1\"'6'\"\"", b"16"),
    (b"Corvane '\"'8", b'"8'),
    (b"Corvane 1'\t'6", b"1\t6"),
    (b"Corvane \x81", b"\x81"),
    (b"Corvane \xbf", b"\xbf"),
]

# Argument 1 and the one call it selects: (function, arguments...).
ACTION_ROWS = [
    (None, ("LockWorkStation",)),
    (b"0", ("LockWorkStation",)),
    (b"32", ("LockWorkStation",)),
    (b"64", ("LockWorkStation",)),
    (b"1", ("SetSystemPowerState", 1, 0)),
    (b"2", ("SetSystemPowerState", 0, 0)),
    (b"4", ("ExitWindowsEx", 0, 0)),
    (b"8", ("ExitWindowsEx", 2, 0)),
    (b"16", ("ExitWindowsEx", 9, 0)),
    (b"3", ("SetSystemPowerState", 1, 0)),
    (b"6", ("SetSystemPowerState", 0, 0)),
    (b"12", ("ExitWindowsEx", 0, 0)),
    (b"24", ("ExitWindowsEx", 2, 0)),
    (b"33", ("SetSystemPowerState", 1, 1)),
    (b"34", ("SetSystemPowerState", 0, 1)),
    (b"36", ("ExitWindowsEx", 4, 0)),
    (b"40", ("ExitWindowsEx", 6, 0)),
    (b"48", ("ExitWindowsEx", 13, 0)),
    (b"-1", ("SetSystemPowerState", 1, 1)),
    (b"$30", ("ExitWindowsEx", 13, 0)),
    (b"%101000", ("ExitWindowsEx", 6, 0)),
    (b"-$FFFFFFFF", ("SetSystemPowerState", 1, 0)),
    (b"2147483648", ("LockWorkStation",)),
    (b"16x", ("LockWorkStation",)),
    # help-switch look-alikes go on to conversion
    (b"??", ("LockWorkStation",)),
    (b"/help", ("LockWorkStation",)),
    (b"Hx", ("LockWorkStation",)),
    (b'" ?"', ("LockWorkStation",)),
    (b'"? "', ("LockWorkStation",)),
]

HOSTILE_LINES = [
    # Windows caps a command line at 32767 characters; 100,000-byte lines
    # are covered by the host tests, which feed the splitter directly.
    ("30,000 digits", b"Corvane " + b"1" * 30000),
    ("10,000 words", b"Corvane 16" + b" 9" * 9999),
    ("bytes 1 to 255 after the argument", b"Corvane 8 " + bytes(range(1, 256))),
    ("bytes 33 to 255 as argument 1", b"Corvane " + bytes(b for b in range(33, 256) if b not in b"\"'")),
    ("unclosed double quote", b'Corvane "4 16 \t\r\n'),
    ("unclosed single quote", b"Corvane '2\t32"),
    ("quote storm", b"Corvane " + b"\"'" * 5000),
    ("separators only", bytes(range(1, 33)) * 100),
]


def dispatch_calls(result):
    return [c for c in result.calls if c.function in DISPATCH_FUNCTIONS]


class SpineCase(unittest.TestCase):
    def run_table(self, rows):
        """Runs each (label, command line, expected call) row as a subtest."""
        results = wine.run_many(EXE, [line for _, line, _ in rows])
        for index, ((label, line, expected), result) in enumerate(zip(rows, results)):
            with self.subTest(row=index, case=label):
                self.assertNotIn(b"Error", [b.caption for b in result.boxes], "no fault report")
                if expected[0] == "MessageBoxA":
                    self.check_help(result)
                else:
                    self.check_action(result, expected)

    def check_help(self, result):
        self.assertEqual(len(result.boxes), 1)
        box = result.boxes[0]
        self.assertEqual(box.caption, b"About Corvane")
        self.assertEqual(len(box.text), 487)
        self.assertEqual(box.text, model.HELP_TEXT)
        self.assertTrue(box.has_icon, "information icon")
        calls = dispatch_calls(result)
        self.assertEqual([c.function for c in calls], ["MessageBoxA"],
                         "help touches no privilege and runs no action")
        owner, text, caption, style = calls[0].args
        self.assertEqual((owner, caption, style), (0, b"About Corvane", 64))
        # Wine's trace cuts long strings; the box itself shows all of it.
        self.assertTrue(model.HELP_TEXT.startswith(text))
        self.assertEqual(result.exit_code, 0)
        self.check_start_up(result)
        return result

    def check_action(self, result, expected):
        calls = dispatch_calls(result)
        self.assertEqual([c.function for c in calls],
                         ["OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges",
                          expected[0]], "call order")
        token, lookup, adjust, action = calls
        self.assertEqual(token.args[:2], [0xFFFFFFFF, 40])
        self.assertNotEqual(token.args[2], 0)
        self.assertEqual(lookup.args[:2], [b"", b"SeShutdownPrivilege"])
        self.assertNotEqual(lookup.args[2], 0)
        self.assertNotEqual(adjust.args[0], 0, "token handle")
        self.assertEqual([adjust.args[1]] + adjust.args[3:], [0, 0, 0, 0])
        self.assertNotEqual(adjust.args[2], 0)
        self.assertEqual(tuple(action.args), expected[1:])
        if result.exit_code is None:
            # Under Wine a forced ExitWindowsEx ends the prefix's session at
            # once, the launcher included, so nobody is left to see the exit
            # code. On Windows the process ends with 0 before the log-off.
            self.assertEqual((action.function, action.args[0] & FORCE_FLAG), ("ExitWindowsEx", FORCE_FLAG))
        else:
            # The exit code tells a script whether the platform took the action.
            self.assertIsNotNone(action.retval)
            self.assertEqual(result.exit_code, 0 if action.retval else 1)
        if expected[0] == "LockWorkStation":
            self.assertEqual(result.exit_code, LOCK_EXIT_CODE_UNDER_WINE)
        if expected[0] == "SetSystemPowerState":
            self.assertEqual(result.exit_code, POWER_EXIT_CODE_UNDER_WINE)
        self.assertEqual(result.boxes, [])
        self.check_start_up(result)
        return result

    def check_start_up(self, result):
        self.assertEqual([c.args for c in result.called("GetModuleFileNameA")],
                         [[0, result.called("GetModuleFileNameA")[0].args[1], 255]])
        self.assertEqual(len(result.called("GetCommandLineA")), 1)


class SplitTest(SpineCase):
    def test_reference_rows(self):
        for index, (line, arg1) in enumerate(SPLIT_ROWS):
            self.assertEqual(model.argument(line, 1), arg1, "model disagrees with row %d" % index)
        self.run_table([(line, line, model.expected_action(line)) for line, _ in SPLIT_ROWS])


class ActionTest(SpineCase):
    def test_action_table(self):
        rows = []
        for arg, expected in ACTION_ROWS:
            line = b"Corvane" if arg is None else b"Corvane " + arg
            self.assertEqual(model.expected_action(line), expected, line)
            rows.append((line, line, expected))
        self.run_table(rows)

    def test_hostile_command_lines(self):
        self.run_table([(name, line, model.expected_action(line)) for name, line in HOSTILE_LINES])


class HelpTest(SpineCase):
    def test_help_after_each_session_end(self):
        # Under Wine an unforced log-off, reboot or shutdown returns at once
        # and leaves a "wineboot --end-session" running, which ends every
        # process that has a window. The help box of the next case must not
        # meet it: a case is over only when what it started has ended.
        rows = []
        for round in range(SESSION_END_ROUNDS):
            for action in (b"4", b"8", b"16"):
                for line in (b"Corvane " + action, b"Corvane ?"):
                    rows.append(("round %d: %s" % (round, line.decode()), line,
                                 model.expected_action(line)))
        self.run_table(rows)

    def test_help_switches(self):
        self.run_table([(switch, b'"C:\\Tools\\Corvane.exe" ' + switch, model.expected_action(b"x " + switch))
                        for switch in model.HELP_SWITCHES])


def main():
    global EXE, LAUNCHER, wine
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--launcher")
    options, rest = parser.parse_known_args()
    EXE = options.exe
    with WineSession("spine", launcher=options.launcher) as session:
        wine = session
        success = run_tests([sys.argv[0]] + rest, "e2e spine cases")
    sys.exit(0 if success else 1)


if __name__ == "__main__":
    main()
