"""Writes the fuzzers' seed corpora and dictionaries from the case tables
(tests/cases/); the build runs it (target corvane-fuzz-seeds).

    python3 tests/fuzz/make_seeds.py --out DIR

DIR/TARGET/ holds one input a file, named after the table it came from;
DIR/TARGET_long/ the long command lines, generated here, which the
regression test replays and only long runs fuzz (each takes seconds under
the sanitizers). DIR/command_line.dict and DIR/parse_integer.dict are the
dictionaries.
"""

import argparse
import os
import re
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "cases"))
import case_tables  # noqa: E402

MEBIBYTE = 1 << 20
# What a dictionary takes from the tables: texts up to this length.
LONGEST_WORD = 40
# The splitter's own bytes: quotes and separators.
SYNTAX = [b'"', b"'", b" ", b"\t", b"\r\n"]


def mixed_bytes(size, seed=20240611):
    """Bytes 1 to 255 in a fixed pseudo-random order, a 4093-byte block
    repeated (4093 is prime, so quotes fall differently each time)."""
    state, block = seed, bytearray()
    for _ in range(4093):
        state = (state * 1103515245 + 12345) % 2 ** 31
        block.append(1 + (state >> 16) % 255)
    return (bytes(block) * (size // len(block) + 1))[:size]


LONG_COMMAND_LINES = [
    b"Corvane" + b" 9" * 20000,
    b"C" + b" a" * (MEBIBYTE // 2 - 1),
    mixed_bytes(MEBIBYTE),
]


def unique(inputs):
    return list(dict.fromkeys(inputs))


def slug(data):
    text = re.sub(rb"[^A-Za-z0-9$%+-]+", b"_", data[:24]).decode("ascii").strip("_")
    return text or "blank"


def write_corpus(directory, inputs):
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    for index, data in enumerate(unique(inputs)):
        with open(os.path.join(directory, "%03d-%s" % (index, slug(data))), "wb") as f:
            f.write(data)


def write_dictionary(path, words):
    with open(path, "w", encoding="ascii") as f:
        for word in unique(w for w in words if w and len(w) <= LONGEST_WORD):
            f.write('"%s"\n' % "".join(chr(c) if 32 <= c < 127 and c not in b'"\\' else "\\x%02x" % c
                                        for c in word))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    out = parser.parse_args().out
    os.makedirs(out, exist_ok=True)
    help_lines = [case_tables.help_command_line(h.argument) for h in case_tables.HELP_SWITCHES]
    write_corpus(os.path.join(out, "parse_integer"), [c.text for c in case_tables.CONVERSIONS])
    write_corpus(os.path.join(out, "argument_list"), [s.command_line for s in case_tables.SPLITS])
    write_corpus(os.path.join(out, "argument_list_long"), LONG_COMMAND_LINES)
    write_corpus(os.path.join(out, "dispatch"),
                 [a.command_line for a in case_tables.ACTIONS] + help_lines)
    write_dictionary(os.path.join(out, "parse_integer.dict"), [c.text for c in case_tables.CONVERSIONS])
    write_dictionary(os.path.join(out, "command_line.dict"),
                     SYNTAX + [h.argument for h in case_tables.HELP_SWITCHES]
                     + [a.command_line for a in case_tables.ACTIONS])


if __name__ == "__main__":
    main()
