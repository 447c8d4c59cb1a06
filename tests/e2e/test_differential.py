"""corvane.exe against the model on generated raw command lines.

    python3 test_differential.py --exe build/win32/corvane.exe --predict corvane-predict
        [--launcher ...] [--cases 300] [--seed N] [--only INDEX]

Each command line is a random mix of quotes, tabs, control characters, high
bytes, signs, $ and % prefixes, numbers near the limits, help switches and
their look-alikes (tests/cases/help_switches.txt). The platform calls a run
makes must be those the reference model predicts, and no run may end in an
"Error" box or with an exit code other than 0 or 1.
The seed is printed first and with every failure; --seed N --only INDEX
runs one failing case again.
"""

import argparse
import os
import random
import re
import sys
import time

import known_differences as known
import prediction
from prediction import case_tables, HELP_CAPTION, HELP_TEXT
from winetest import WineSession, relay_text_shown

# Wine may reuse a thread id once a few hundred have been freed, and one
# launcher's trace is split by thread id, so a launcher gets at most this
# many command lines.
CASES_PER_LAUNCHER = 50
LONGEST_LINE = 4000
FORCE_FLAG = 4

PRIVILEGE_CALLS = ["OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges"]

PROGRAM_WORDS = [
    b"Corvane", b"Corvane", b"corvane.exe", b"C:\\Tools\\Corvane.exe",
    b'"C:\\Program Files\\Corvane\\Corvane.exe"', b'"Corvane"',
    b"E:\\A'B\\Corvane.exe",  # its quote never closes: no argument 1
    b'"E:\\A\'B\\Corvane.exe"', b"Cor'va ne'", b"",
]
# Magnitudes near every limit and every action bit.
MAGNITUDES = [0, 1, 2, 3, 4, 8, 16, 24, 31, 32, 33, 36, 40, 48, 63, 64, 255,
              2 ** 31 - 1, 2 ** 31, 2 ** 32 - 1, 2 ** 32, 10 ** 10]
HELP_LIKE = [row.argument for row in case_tables.HELP_SWITCHES]
SPECIAL_BYTES = b"\"'\t $%+-0123456789aAfFgGhH?/\\\r\n\x01\x1f\x7f\x80\x81\xa0\xff"


def separators(rng, least=1):
    chosen = []
    for _ in range(rng.randint(least, least + 2)):
        roll = rng.random()
        if roll < 0.6:
            chosen.append(b" ")
        elif roll < 0.8:
            chosen.append(b"\t")
        else:
            chosen.append(bytes([rng.randint(1, 31)]))
    return b"".join(chosen)


def number_text(rng):
    roll = rng.random()
    if roll < 0.4:
        magnitude = rng.randint(0, 127)
    elif roll < 0.8:
        magnitude = max(0, rng.choice(MAGNITUDES) + rng.randint(-2, 2))
    else:
        magnitude = rng.getrandbits(rng.choice((16, 31, 32, 33)))
    base = rng.choice((10, 10, 10, 16, 16, 2))
    if base == 10:
        digits = b"%d" % magnitude
    elif base == 16:
        digits = bytes(c if rng.random() < 0.5 else ord(chr(c).upper()) for c in b"%x" % magnitude)
    else:
        digits = ("{:b}".format(magnitude)).encode("ascii")
    if rng.random() < 0.15:
        digits = b"0" * rng.choice((1, 3, 40, 250)) + digits
    prefix = {10: b"", 16: b"$", 2: b"%"}[base]
    sign = rng.choice((b"", b"", b"", b"+", b"-"))
    text = sign + prefix + digits
    roll = rng.random()
    if roll < 0.08:
        text = prefix + sign + digits  # prefix before sign
    elif roll < 0.16:
        at = rng.randint(0, len(text))
        text = text[:at] + bytes([rng.choice(SPECIAL_BYTES)]) + text[at:]
    elif roll < 0.22:
        text = rng.choice((b" ", b"\t", b"  \t")) + text  # blanks the conversion skips
    return text


def noise_text(rng):
    length = rng.randint(0, 12)
    return bytes(rng.choice(SPECIAL_BYTES) if rng.random() < 0.6 else rng.randint(1, 255)
                 for _ in range(length))


def quoted_pieces(rng, text):
    """Cuts text into pieces and puts some between quotes, sometimes leaving
    the last quote open."""
    cuts = sorted(rng.randint(0, len(text)) for _ in range(rng.randint(0, 2)))
    pieces = [text[a:b] for a, b in zip([0] + cuts, cuts + [len(text)])]
    out = []
    for piece in pieces:
        quote = rng.choice((b"", b"", b'"', b"'"))
        out.append(quote + piece + quote)
    if rng.random() < 0.08:
        out.append(rng.choice((b'"', b"'")))
    return b"".join(out)


def argument_text(rng):
    roll = rng.random()
    if roll < 0.2:
        core = rng.choice(HELP_LIKE)
    elif roll < 0.85:
        core = number_text(rng)
    else:
        core = noise_text(rng)
    return quoted_pieces(rng, core)


def generate(seed, index):
    """Command line `index` of the run with `seed`; never holds a zero byte."""
    rng = random.Random("%d:%d" % (seed, index))
    parts = [separators(rng, 0) if rng.random() < 0.2 else b"", rng.choice(PROGRAM_WORDS)]
    for _ in range(rng.choice((0, 1, 1, 1, 1, 1, 2, 3))):
        parts.append(separators(rng) + argument_text(rng))
    if rng.random() < 0.15:
        parts.append(separators(rng))
    if rng.random() < 0.03:
        parts.append(b" " + b"9" * rng.randint(300, 2000))
    return b"".join(parts)[:LONGEST_LINE]


def problems(result, expected):
    """What is wrong with a run, as a list of texts; empty when it matches."""
    found = []
    if b"Error" in [b.caption for b in result.boxes]:
        found.append("fault report box: %r" % [b.text for b in result.boxes])
    if result.exit_code not in (0, 1, None):
        found.append("exit code %r" % result.exit_code)
    if len(result.called("GetCommandLineA")) != 1:
        found.append("trace shows %d GetCommandLineA calls" % len(result.called("GetCommandLineA")))
    calls = [c for c in result.calls if c.function in prediction.DISPATCH_FUNCTIONS]
    if expected[0] == "MessageBoxA":
        if [c.function for c in calls] != ["MessageBoxA"]:
            return found + ["help expected, calls %r" % calls]
        owner, text, caption, style = calls[0].args
        if (owner, caption, style) != (0, HELP_CAPTION, 64):
            found.append("help box call %r" % calls[0])
        shown = relay_text_shown(text, HELP_TEXT)
        if shown != "cut":
            found.append(known.changed(known.RELAY_STRING_CUT, "the trace shows %r" % (shown,)))
        if [(b.caption, b.text, b.has_icon) for b in result.boxes] != [
                (HELP_CAPTION, HELP_TEXT, True)]:
            found.append("boxes %r" % (result.boxes,))
        if result.exit_code != 0:
            found.append("help ended with exit code %r" % result.exit_code)
        return found

    if [c.function for c in calls] != PRIVILEGE_CALLS + [expected[0]]:
        return found + ["expected %r after the privilege calls, calls %r" % (expected, calls)]
    token, lookup, adjust, action = calls
    if token.args[:2] != [0xFFFFFFFF, 40] or token.args[2] == 0:
        found.append("OpenProcessToken %r" % token)
    if lookup.args[:2] != [b"", b"SeShutdownPrivilege"] or lookup.args[2] == 0:
        found.append("LookupPrivilegeValueA %r" % lookup)
    if adjust.args[0] == 0 or adjust.args[2] == 0 or [adjust.args[1]] + adjust.args[3:] != [0, 0, 0, 0]:
        found.append("AdjustTokenPrivileges %r" % adjust)
    if tuple(action.args) != expected[1:]:
        found.append("expected %r, called %r" % (expected, action))
    if result.boxes:
        found.append("boxes %r" % (result.boxes,))
    if result.exit_code is None:
        forced = expected[0] == "ExitWindowsEx" and expected[1] & FORCE_FLAG
        if not known.broken(known.FORCED_END_ENDS_LAUNCHER, forced):
            found.append("the run never ended")
    elif action.retval is None or result.exit_code != (0 if action.retval else 1):
        found.append("exit code %r after %r returned %r" % (result.exit_code, action, action.retval))
    return found


def describe(expected):
    if expected[0] == "MessageBoxA":
        return "help"
    return "%s(%s)" % (expected[0], ", ".join(str(a) for a in expected[1:]))


def whole_number_from(variable, default, least):
    """The environment's whole number, refused loudly when mistyped: a run
    that quietly checks nothing, or another seed, would pass for no reason."""
    text = os.environ.get(variable, "")
    if text == "":
        return default
    if not re.fullmatch(r"[0-9]+", text) or int(text) < least:
        sys.exit("test_differential: %s must be a whole number, %d or more, not %r"
                 % (variable, least, text))
    return int(text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--launcher")
    parser.add_argument("--predict", required=True)
    parser.add_argument("--cases", type=int, default=whole_number_from("CORVANE_DIFF_CASES", 300, 1))
    parser.add_argument("--seed", type=int, default=whole_number_from("CORVANE_DIFF_SEED", None, 0))
    parser.add_argument("--only", type=int, help="run only this case of the seed")
    options = parser.parse_args()
    seed = options.seed if options.seed is not None else random.SystemRandom().getrandbits(32)
    indices = [options.only] if options.only is not None else list(range(options.cases))
    print("differential check: seed %d, %d cases" % (seed, len(indices)), flush=True)

    cases = [(index, generate(seed, index)) for index in indices]
    expectations = prediction.predict(options.predict, [line for _, line in cases])
    tally = {}
    for expected in expectations:
        tally[expected[0]] = tally.get(expected[0], 0) + 1
    print("predicted: " + ", ".join("%s %d" % item for item in sorted(tally.items())), flush=True)

    failures = []
    started = time.time()
    with WineSession("differential", launcher=options.launcher) as wine:
        for first in range(0, len(cases), CASES_PER_LAUNCHER):
            chunk = cases[first:first + CASES_PER_LAUNCHER]
            results = wine.run_many(options.exe, [line for _, line in chunk])
            for (index, line), expected, result in zip(chunk, expectations[first:], results):
                found = problems(result, expected)
                if found:
                    failures.append((index, line, expected, found))
                    print("FAILED: seed %d case %d: %r\n  predicted %s\n  %s"
                          % (seed, index, line[:300], describe(expected), "\n  ".join(found)),
                          flush=True)
            print("%d of %d cases run, %d failed, %.0f s"
                  % (first + len(chunk), len(cases), len(failures), time.time() - started), flush=True)

    print("differential cases: %d run, %d failed (seed %d)" % (len(cases), len(failures), seed))
    if failures:
        print("rerun one with: --seed %d --only INDEX; failing indices: %s"
              % (seed, " ".join(str(index) for index, _, _, _ in failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
