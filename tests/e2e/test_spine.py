"""corvane.exe as a black box: exact command lines in, platform calls,
boxes and exit codes out, for every row of the case tables (tests/cases/)
and for hostile command lines.

    python3 test_spine.py --exe build/win32/corvane.exe --predict corvane-predict
        [--launcher ...]

Where a row does not say what the run must do (the splitter's rows say only
how the line splits), the reference model predicts it.
"""

import argparse
import sys
import unittest

import known_differences as known
import prediction
from prediction import case_tables, HELP_CAPTION, HELP_TEXT
from winetest import WineSession, relay_text_shown, run_tests

EXE = PREDICT = None
wine = None

FORCE_FLAG = 4
SESSION_END_ROUNDS = 5
TOOLS_PROGRAM = b'"C:\\Tools\\Corvane.exe" '

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
    return [c for c in result.calls if c.function in prediction.DISPATCH_FUNCTIONS]


class SpineCase(unittest.TestCase):
    def run_predicted(self, rows):
        """run_table() with the model's prediction for each (label, command
        line) row."""
        predicted = prediction.predict(PREDICT, [line for _, line in rows])
        self.run_table([(label, line, call) for (label, line), call in zip(rows, predicted)])

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
        self.assertEqual(box.caption, HELP_CAPTION)
        self.assertEqual(box.text, HELP_TEXT)
        self.assertTrue(box.has_icon, "information icon")
        calls = dispatch_calls(result)
        self.assertEqual([c.function for c in calls], ["MessageBoxA"],
                         "help touches no privilege and runs no action")
        owner, text, caption, style = calls[0].args
        self.assertEqual((owner, caption, style), (0, HELP_CAPTION, 64))
        known.check(self, known.RELAY_STRING_CUT, relay_text_shown(text, HELP_TEXT), wine="cut")
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
            forced = action.function == "ExitWindowsEx" and action.args[0] & FORCE_FLAG
            self.assertTrue(known.broken(known.FORCED_END_ENDS_LAUNCHER, forced), "no exit code")
        else:
            # The exit code tells a script whether the platform took the action.
            self.assertIsNotNone(action.retval)
            self.assertEqual(result.exit_code, 0 if action.retval else 1)
        if expected[0] == "LockWorkStation":
            known.check(self, known.LOCK_REFUSED, result.exit_code)
        if expected[0] == "SetSystemPowerState":
            known.check(self, known.POWER_ACCEPTED_AT_ONCE, result.exit_code)
        self.assertEqual(result.boxes, [])
        self.check_start_up(result)
        return result

    def check_start_up(self, result):
        self.assertEqual([c.args for c in result.called("GetModuleFileNameA")],
                         [[0, result.called("GetModuleFileNameA")[0].args[1], 255]])
        self.assertEqual(len(result.called("GetCommandLineA")), 1)


class SplitTest(SpineCase):
    def test_splitter_rows(self):
        self.run_predicted([(row.command_line, row.command_line) for row in case_tables.SPLITS])


class ActionTest(SpineCase):
    def test_action_rows(self):
        self.run_table([(row.command_line, row.command_line, prediction.table_call(row.call))
                        for row in case_tables.ACTIONS])

    def test_hostile_command_lines(self):
        self.run_predicted(HOSTILE_LINES)


class HelpTest(SpineCase):
    def test_help_after_each_session_end(self):
        # known.UNFORCED_END_LEAVES_WINEBOOT: the help box of the next case
        # must not meet the wineboot an unforced end leaves behind.
        rows = []
        for round in range(SESSION_END_ROUNDS):
            for action in (b"4", b"8", b"16"):
                for line in (b"Corvane " + action, b"Corvane ?"):
                    rows.append(("round %d: %s" % (round, line.decode()), line))
        self.run_predicted(rows)

    def test_help_switches_and_look_alikes(self):
        rows = []
        for row in case_tables.HELP_SWITCHES:
            line = case_tables.help_command_line(row.argument)
            if row.helps:
                rows.append((row.argument, TOOLS_PROGRAM + row.argument, prediction.HELP_CALL))
            rows.append((line, line, prediction.HELP_CALL if row.helps else ("LockWorkStation",)))
        self.run_table(rows)


def main():
    global EXE, PREDICT, wine
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--launcher")
    parser.add_argument("--predict", required=True)
    options, rest = parser.parse_known_args()
    EXE, PREDICT = options.exe, options.predict
    with WineSession("spine", launcher=options.launcher) as session:
        wine = session
        success = run_tests([sys.argv[0]] + rest, "e2e spine cases")
    sys.exit(0 if success else 1)


if __name__ == "__main__":
    main()
