"""The readme's batch examples, run as written in Wine's cmd.exe against the
built corvane.exe, installed where the examples expect it.

    python3 test_examples.py --exe build/win32/corvane.exe --readme README.md
        --batch tests/e2e/readme_examples.bat
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from winetest import WineSession, run_tests, windows_path

EXE = README = BATCH = None
wine = None

INSTALLED_AT = ("Program Files", "Corvane", "corvane.exe")  # C:\Program Files\Corvane
BATCH_SECONDS = 120


def readme_batch_examples(path):
    """The readme's code blocks that are batch files, as lists of lines."""
    blocks, current = [], None
    with open(path, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            if current is not None and line.startswith("    "):
                current.append(line[4:])
                continue
            if current is not None:
                blocks.append(current)
                current = None
            if line == "    @echo off":
                current = [line[4:]]
    return blocks


class ExamplesTest(unittest.TestCase):
    def test_batch_file_holds_every_readme_example(self):
        with open(BATCH, "rb") as f:
            lines = f.read().decode("ascii").split("\r\n")
        examples = readme_batch_examples(README)
        self.assertGreaterEqual(len(examples), 1)
        for example in examples:
            with self.subTest(example=example[1]):
                self.assertTrue(any(lines[i:i + len(example)] == example
                                    for i in range(len(lines))), example)

    def test_examples_run_in_cmd(self):
        # Under Wine a reboot that is not forced is accepted and ends
        # nothing, and a lock is always refused (LockWorkStation is a stub
        # returning FALSE); on Windows the reboot would happen.
        rows = [
            ("8", ["Action 8 was accepted."]),
            ("0", ["Action 0 was refused."]),
            ("4O", ["Action 4O was refused."]),
        ]
        target = os.path.join(wine.prefix, "drive_c", *INSTALLED_AT)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(EXE, target)
        for argument, expected in rows:
            with self.subTest(argument=argument):
                # Files, not pipes: processes Wine starts in the background
                # inherit the handles and would hold a pipe open.
                with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                    subprocess.run(["wine", "cmd", "/c", windows_path(BATCH), argument],
                                   env=wine.env, stdout=out, stderr=err, timeout=BATCH_SECONDS)
                    out.seek(0)
                    err.seek(0)
                    output = out.read().decode("ascii", "replace").replace("\r", "").split("\n")
                    self.assertEqual([l for l in output if l], expected, err.read()[-2000:])


def main():
    global EXE, README, BATCH, wine
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("--batch", required=True)
    args, rest = parser.parse_known_args()
    EXE, README, BATCH = args.exe, args.readme, args.batch
    with WineSession("examples") as session:
        wine = session
        success = run_tests([sys.argv[0]] + rest, "e2e examples")
    sys.exit(0 if success else 1)


if __name__ == "__main__":
    main()
