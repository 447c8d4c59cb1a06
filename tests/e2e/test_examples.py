"""The code blocks of the download's guides, taken out of README.md (its
download parts) and ADMIN.md: each must say which shell it is for; every
batch file among them runs in Wine's cmd.exe against the built corvane.exe,
installed where the guides put it; and every variant of the task file that a
PowerShell block makes with .Replace is made from the shipped file and
registered under Wine.

    python3 test_examples.py --exe build/win32/corvane.exe --readme README.md
        --admin ADMIN.md --zip corvane-V-win32.zip --task-client task_client.exe
        --task-store task_store.exe

A block says its shell in the sentence that introduces it, which names one
of SHELLS and ends with a colon; a block right after another is for the same
shell. A batch file names itself in a "rem NAME.bat" line.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from xml.etree import ElementTree

import known_differences as known
import tasks
from winetest import WineSession, await_session_end_or_fail, run_tests, run_wine, windows_path

EXE = README = ADMIN = ZIP = TASK_CLIENT = TASK_STORE = None
wine = None

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO_ROOT, "cmake"))
from make_release import download_parts  # noqa: E402  the guide's parts, as the zip takes them

SHELLS = ("cmd prompt", "batch file", "PowerShell", "Target")  # Target: a shortcut's
BATCH_SHELL, POWERSHELL = "batch file", "PowerShell"
INSTALLED_AT = ("Program Files", "Corvane", "corvane.exe")  # C:\Program Files\Corvane
TASK_MEMBER = "corvane-task.xml"
PCS = ["PC1", "PC2"]  # pcs.txt, as the administrators' guide reads it
BATCH_SECONDS = 120

# What each batch file of the guides prints, by argument ("" for none), and
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
    "run-list.bat": [("", ["Started. Run results.bat in a minute."], known.SCHTASKS_SILENT)],
    "results.bat": [("", ["The results are in results.txt."], None)],
    "reboot-list.bat": [("", ["Asked every PC in pcs.txt to restart."], None)],
    "lock-pc.bat": [("PC1", ["Asked PC1 to lock."], known.SCHTASKS_SILENT)],
}
# What reached Wine's shutdown, which only reports its arguments.
SHUTDOWN_CALLS = {
    "reboot-list.bat": ['L"/r" L"/m" L"\\\\\\\\%s" L"/t" L"0" L"/d" L"p:0:0"' % pc for pc in PCS],
}

# A PowerShell block's .Replace('text', 'new text') calls on the task file;
# the new text may be double-quoted and name variables.
REPLACE = re.compile(r"""\.Replace\('([^']*)',\s*(?:'([^']*)'|"([^"]*)")\)""")
TASK_NAME = re.compile(r'-TaskName "([^"]+)"')
# What a variable in a replacement stands for on a real network.
STAND_INS = {"$sid": "S-1-5-21-1004336348-1177238915-682003330-1103"}  # a help-desk group
VARIANTS = ["Corvane check", "Corvane help desk", "Corvane log off", "Corvane nightly suspend"]


def code_blocks(text):
    """(shell or None, introducing sentence, lines) for every code block."""
    blocks = []
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        if not lines[i].startswith("    "):
            i += 1
            continue
        start = i
        while i < len(lines) and lines[i].startswith("    "):
            i += 1
        before = [line for line in lines[:start] if line.strip()]
        if blocks and before and before[-1].startswith("    "):
            shell, intro = blocks[-1][:2]  # a second block of the same kind
        else:
            paragraph = []
            for line in reversed(lines[:start]):
                if not line.strip() and paragraph:
                    break
                if line.strip():
                    paragraph.insert(0, line.strip())
            intro = re.split(r"(?<=[.!?])\s+", " ".join(paragraph))[-1]
            said = intro.lower()
            named = [s for s in SHELLS if s.lower() in said]
            shell = (max(named, key=lambda s: said.rindex(s.lower()))
                     if named and said.endswith(":") else None)
        blocks.append((shell, intro, [line[4:] for line in lines[start:i]]))
    return blocks


def guide_code_blocks():
    with open(README, encoding="utf-8") as f:
        readme = "\n".join(download_parts(f.read()))
    with open(ADMIN, encoding="utf-8") as f:
        admin = f.read()
    return code_blocks(readme) + code_blocks(admin)


def batch_name(lines):
    for line in lines:
        named = re.match(r"rem (\S+\.bat)\b", line)
        if named:
            return named.group(1)
    return None


def variants(blocks):
    """{task name: [(text, new text)]}: the replacements each PowerShell
    block makes to the task file, in order, under the last name it
    registers."""
    found = {}
    for shell, _, lines in blocks:
        code = "\n".join(lines)
        calls = REPLACE.findall(code)
        if shell != POWERSHELL or TASK_MEMBER not in code or not calls:
            continue
        names = TASK_NAME.findall(code)
        found[names[-1] if names else code] = [
            (old, single if single else re.sub(r"\$\w+", lambda m: STAND_INS.get(m.group(), m.group()),
                                                double))
            for old, single, double in calls]
    return found


class ExamplesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.blocks = guide_code_blocks()

    def test_every_block_names_its_shell(self):
        self.assertTrue(self.blocks, "no code block found in the guides")
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
        self.assertEqual(sorted(batches), sorted(BATCH_RUNS),
                         "every batch file in the guides needs its runs here, and no more")
        target = os.path.join(wine.prefix, "drive_c", *INSTALLED_AT)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(EXE, target)
        with open(os.path.join(wine.directory, "pcs.txt"), "wb") as f:
            f.write("".join(pc + "\r\n" for pc in PCS).encode("ascii"))
        env = dict(wine.env, WINEDEBUG="fixme+shutdown")
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
                        subprocess.run(command, env=env, stdout=out, stderr=err, cwd=wine.directory,
                                       timeout=BATCH_SECONDS)
                        await_session_end_or_fail(wine.prefix, "after %s %s" % (name, argument))
                        out.seek(0)
                        err.seek(0)
                        output = out.read().decode("ascii", "replace").replace("\r", "").split("\n")
                        trace = err.read().decode("ascii", "replace")
                    printed = [l for l in output if l]
                    if difference:
                        known.check(self, difference, printed, wine=expected)
                    self.assertEqual(printed, expected, trace[-2000:])
                    calls = re.findall(r"fixme:shutdown:wmain stub: L\"shutdown\" (.*)", trace)
                    known.check(self, known.SHUTDOWN_STUB, [c.strip() for c in calls],
                                wine=SHUTDOWN_CALLS.get(name, []))

    def test_task_variants_register_and_read_back(self):
        with zipfile.ZipFile(ZIP) as archive:
            shipped = tasks.task_text(archive.read(TASK_MEMBER))
        found = variants(self.blocks)
        self.assertEqual(sorted(found), VARIANTS,
                         "every variant the guides make needs its name here, and no more")
        shipped_shape = tasks.shape(ElementTree.fromstring(tasks.task_file(shipped)))
        for name, replacements in found.items():
            with self.subTest(variant=name):
                text = shipped
                for old, new in replacements:
                    self.assertEqual(shipped.count(old), 1, "%r in the shipped file" % old)
                    self.assertNotIn("$", new, "a variable without a stand-in here")
                    text = text.replace(old, new)
                expected = tasks.shape(ElementTree.fromstring(tasks.task_file(text)))
                self.assertNotEqual(expected, shipped_shape, "the variant changes nothing")
                status, out = tasks.schtasks_create(wine, name, text)
                self.assertEqual(status, 0, out)
                status, out = run_wine([TASK_CLIENT, name], wine.env, tasks.TIMEOUT, keep_stderr=False)
                self.assertIn("registered 1", out.decode("ascii", "replace"))
                stored = tasks.stored_task(wine, TASK_STORE, name + " stored", text)
                self.assertEqual(tasks.shape(stored), expected)


def main():
    global EXE, README, ADMIN, ZIP, TASK_CLIENT, TASK_STORE, wine
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--readme", "--admin", "--zip", "--task-client", "--task-store"):
        parser.add_argument(option, required=True)
    args, rest = parser.parse_known_args()
    EXE, README, ADMIN, ZIP = args.exe, args.readme, args.admin, args.zip
    TASK_CLIENT, TASK_STORE = args.task_client, args.task_store
    with WineSession("examples") as session:
        wine = session
        success = run_tests([sys.argv[0]] + rest, "e2e examples")
    sys.exit(0 if success else 1)


if __name__ == "__main__":
    main()
