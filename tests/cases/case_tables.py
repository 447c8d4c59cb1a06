"""The rows of Corvane's behaviour, read from the tables in this folder,
for every level of the tests: the Wine tests and the image test import
this module, the fuzz seeds are written from it (tests/fuzz/make_seeds.py),
and the unit tests, fuzzers and the reference model get the rows as C++:

    python3 case_tables.py --cpp FILE    (declared in tests/support/case_tables.h)

A table is a text file of rows, one a line, fields separated by blanks;
a line that starts with # is a comment. A field is
  a text: pieces joined by +, each "..." (escapes \\\\ \\" \\t \\r \\n \\xHH),
    "..."*N (that text N times) or [A..B] (the bytes A to B, up or down);
  a whole number, or a name;
  N*FIELD: the field N times over (a list of words).
"""

import collections
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Every word of the command line, the program's own first.
Split = collections.namedtuple("Split", "command_line words")
Conversion = collections.namedtuple("Conversion", "text number status")
# call: ("help",), or the platform function and its arguments.
Action = collections.namedtuple("Action", "command_line action_code status force call")
# An argument 1 that shows the help box, or one that only looks like it
# and goes on to the conversion, with the status it gives.
HelpSwitch = collections.namedtuple("HelpSwitch", "argument helps status")

_ESCAPES = {"\\": 92, '"': 34, "t": 9, "r": 13, "n": 10}
_PIECE = re.compile(r'"((?:[^"\\]|\\.)*)"(?:\*(\d+))?|\[(\d+)\.\.(\d+)\]')


def _text(body):
    out, i = bytearray(), 0
    while i < len(body):
        if body[i] != "\\":
            out.append(ord(body[i]))
            i += 1
        elif body[i + 1] == "x":
            out.append(int(body[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(_ESCAPES[body[i + 1]])
            i += 2
    return bytes(out)


def fields(line, where):
    """The values of one row: bytes for texts, int for numbers, str for names."""
    values, i = [], 0
    while i < len(line):
        if line[i] == " ":
            i += 1
            continue
        count = re.match(r"(\d+)\*(?=[\"\[])", line[i:])
        if count:
            i += count.end()
        if line[i] in "\"[":
            value = b""
            while True:
                piece = _PIECE.match(line, i)
                if not piece:
                    raise ValueError("%s: no text at column %d" % (where, i + 1))
                if piece.group(3):
                    low, high = int(piece.group(3)), int(piece.group(4))
                    value += bytes(range(low, high + 1) if low <= high else range(low, high - 1, -1))
                else:
                    value += _text(piece.group(1)) * int(piece.group(2) or 1)
                i = piece.end()
                if line[i:i + 1] != "+":
                    break
                i += 1
        else:
            end = line.find(" ", i)
            end = len(line) if end < 0 else end
            word = line[i:end]
            value = int(word) if re.fullmatch(r"-?\d+", word) else word
            i = end
        values += [value] * (int(count.group(1)) if count else 1)
    return values


def rows(name):
    """The rows of tests/cases/NAME.txt, each a list of values."""
    path = os.path.join(HERE, name + ".txt")
    with open(path, encoding="ascii") as f:
        found = [fields(line.rstrip("\n"), "%s:%d" % (path, number))
                 for number, line in enumerate(f, 1) if line.strip() and not line.lstrip().startswith("#")]
    if not found:
        raise ValueError("%s holds no row" % path)  # a test over it would pass on nothing
    return found


SPLITS = [Split(r[0], r[1:]) for r in rows("split")]
CONVERSIONS = [Conversion(*r) for r in rows("conversion")]
ACTIONS = [Action(r[0], r[1], r[2], r[3], tuple(r[4:])) for r in rows("actions")]
HELP_SWITCHES = [HelpSwitch(r[0], r[1] == "help", r[2] if len(r) > 2 else 0)
                 for r in rows("help_switches")]
HELP_LINES = [r[0] for r in rows("help_lines")]
# The help box's text: the lines, each ended by a lone carriage return but
# the last.
HELP_TEXT = b"\r".join(HELP_LINES)
HELP_CAPTION = b"About Corvane"


def help_command_line(argument):
    """A command line whose argument 1 is exactly `argument`."""
    if any(c <= 32 or c in b"\"'" for c in argument):
        return b'Corvane "' + argument + b'"'
    return b"Corvane " + argument


# -- as C++ ------------------------------------------------------------------

def _cpp_text(data):
    """A std::string of exactly these bytes."""
    out, previous_hex = [], False
    for c in data:
        ch = chr(c)
        if ch in '"\\?':  # "?" escaped: no trigraph
            piece = "\\" + ch
        elif 32 <= c < 127 and not (previous_hex and ch in "0123456789abcdefABCDEF"):
            piece = ch
        elif 32 <= c < 127:
            piece = '" "' + ch  # a hex escape would take the digit in
        else:
            piece = "\\x%02x" % c
        previous_hex = piece.startswith("\\x")
        out.append(piece)
    return 'std::string("%s", %d)' % ("".join(out), len(data))


def _cpp_call(call):
    return '"%s(%s)"' % (call[0], ", ".join(str(a) for a in call[1:])) if call != ("help",) else '""'


def cpp():
    def table(kind, name, items):
        return "const std::vector<%s> %s = {\n%s};\n" % (kind, name, "".join("    {%s},\n" % i for i in items))

    return "".join([
        "// Written by tests/cases/case_tables.py from tests/cases/*.txt.\n",
        '#include "case_tables.h"\n\n',
        table("SplitCase", "kSplitCases", ("%s, {%s}" % (_cpp_text(s.command_line), ", ".join(
            _cpp_text(w) for w in s.words)) for s in SPLITS)),
        table("ConversionCase", "kConversionCases", ("%s, %d, %d" % (
            _cpp_text(c.text), c.number, c.status) for c in CONVERSIONS)),
        table("ActionCase", "kActionCases", ("%s, %d, %d, %d, %s, %s" % (
            _cpp_text(a.command_line), a.action_code, a.status, a.force,
            "true" if a.call == ("help",) else "false", _cpp_call(a.call)) for a in ACTIONS)),
        table("HelpSwitchCase", "kHelpSwitchCases", ("%s, %s, %s, %d" % (
            _cpp_text(h.argument), _cpp_text(help_command_line(h.argument)),
            "true" if h.helps else "false", h.status) for h in HELP_SWITCHES)),
        table("std::string", "kHelpLines", (_cpp_text(line) for line in HELP_LINES)),
    ])


if __name__ == "__main__":
    if sys.argv[1:2] != ["--cpp"] or len(sys.argv) != 3:
        sys.exit("usage: case_tables.py --cpp FILE")
    with open(sys.argv[2], "w", encoding="ascii") as f:
        f.write(cpp())
