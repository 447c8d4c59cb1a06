"""The code blocks of the download's guide, taken out of README.md: each
must say which shell it is for, and every batch file among them runs in
Wine's cmd.exe against the built corvane.exe, installed where the guide
puts it.

    python3 test_examples.py --exe build/win32/corvane.exe --readme README.md

A block says its shell in the line that introduces it, which ends with one
of SHELLS and a colon. A batch file names itself in a "rem NAME.bat" line.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import known_differences as known
from winetest import WineSession, run_tests, windows_path

EXE = README = None
wine = None

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO_ROOT, "cmake"))
from make_release import download_parts  # noqa: E402  the guide's parts, as the zip takes them

SHELLS = ("cmd prompt", "batch file", "PowerShell", "Target")  # Target: a shortcut's
BATCH_SHELL = "batch file"
INSTALLED_AT = ("Program Files", "Corvane", "corvane.exe")  # C:\Program Files\Corvane
BATCH_SECONDS = 120

# What each batch file of the guide prints, by argument ("" for none), and
# the known difference that makes Wine print it. A reboot that is not forced
# is accepted and, under Wine, ends nothing.
BATCH_RUNS = {
    "end-session.bat": [("8", ["Action 8 was accepted."], None),
                        ("0", ["Action 0 was refused."], known.LOCK_REFUSED),
                        ("4O", ["Action 4O was refused."], known.LOCK_REFUSED)],
    # Exit code 0 shows that %%1000 reached Corvane as %1000, a reboot: with
    # a single % cmd would hand it the file's first argument and 000, a lock,
    # which Wine refuses with 1.
    "reboot.bat": [("", ["Corvane exited with 0."], None)],
}


def guide_code_blocks(path):
    """(shell or None, introducing line, lines) for every code block of the
    readme's download parts."""
    with open(path, encoding="utf-8") as f:
        markdown = f.read()
    parts = download_parts(markdown)
    blocks = []
    for part in parts:
        lines = part.split("\n")
        i = 0
        while i < len(lines):
            if not lines[i].startswith("    "):
                i += 1
                continue
            start = i
            while i < len(lines) and lines[i].startswith("    "):
                i += 1
            intro = next((line for line in reversed(lines[:start]) if line.strip()), "")
            shell = next((s for s in SHELLS if intro.rstrip().endswith(s + ":")), None)
            blocks.append((shell, intro, [line[4:] for line in lines[start:i]]))
    return blocks


def batch_name(lines):
    for line in lines:
        named = re.match(r"rem (\S+\.bat)\b", line)
        if named:
            return named.group(1)
    return None


class ExamplesTest(unittest.TestCase):
    def setUp(self):
        self.blocks = guide_code_blocks(README)

    def test_every_block_names_its_shell(self):
        self.assertTrue(self.blocks, "no code block found in the download parts")
        for shell, intro, lines in self.blocks:
            with self.subTest(block=lines[0]):
                self.assertIsNotNone(shell, "introduced by %r" % intro)

    def test_batch_files_run_in_cmd(self):
        batches = {}
        for shell, _, lines in self.blocks:
            if shell == BATCH_SHELL:
                name = batch_name(lines)
                self.assertIsNotNone(name, "a batch file without a rem NAME.bat line: %r" % lines)
                batches[name] = lines
        self.assertTrue(batches, "no batch file found in the guide")
        self.assertEqual(sorted(batches), sorted(BATCH_RUNS),
                         "every batch file in the guide needs its runs here, and no more")
        target = os.path.join(wine.prefix, "drive_c", *INSTALLED_AT)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(EXE, target)
        for name, runs in BATCH_RUNS.items():
            path = os.path.join(wine.directory, name)
            with open(path, "wb") as f:
                f.write(("\r\n".join(batches[name]) + "\r\n").encode("ascii"))
            for argument, expected, difference in runs:
                with self.subTest(batch=name, argument=argument):
                    command = ["wine", "cmd", "/c", windows_path(path)] + ([argument] if argument else [])
                    # Files, not pipes: processes Wine starts in the background
                    # inherit the handles and would hold a pipe open.
                    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                        subprocess.run(command, env=wine.env, stdout=out, stderr=err,
                                       timeout=BATCH_SECONDS)
                        out.seek(0)
                        err.seek(0)
                        output = out.read().decode("ascii", "replace").replace("\r", "").split("\n")
                        printed = [l for l in output if l]
                        if difference:
                            known.check(self, difference, printed, wine=expected)
                        self.assertEqual(printed, expected, err.read()[-2000:])


def main():
    global EXE, README, wine
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--readme", required=True)
    args, rest = parser.parse_known_args()
    EXE, README = args.exe, args.readme
    with WineSession("examples") as session:
        wine = session
        success = run_tests([sys.argv[0]] + rest, "e2e examples")
    sys.exit(0 if success else 1)


if __name__ == "__main__":
    main()
