"""The scripts a user runs fail loudly when they cannot do their job.

    python3 test_scripts.py --exe build/win32/corvane.exe --source . --work DIR

A mistyped option is refused, not taken as "skip" or a short run, and
scripts/run.sh gives up on a help box it cannot find, ends its Wine session
and its Xvfb, and says what it did not find.
"""

import argparse
import os
import shutil
import signal
import stat
import subprocess
import sys
import time
import unittest

from winetest import run_tests

EXE = SOURCE = WORK = None

BAD_WHOLE_NUMBERS = ["10m", "abc", "-1", " 5", "1e3", "3.5"]
# The box wait (90 s) plus a fresh prefix, with room for an emulated Wine.
RUN_SCRIPT_SECONDS = 420


def stub(folder, name, body):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n%s\n" % body)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)


def processes_with(variable, value):
    """Ids of the processes whose environment holds variable=value."""
    wanted = ("%s=%s" % (variable, value)).encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if wanted in f.read().split(b"\0"):
                    found.append(int(pid))
        except OSError:
            pass  # ended meanwhile, or not ours to read
    return found


class OptionTest(unittest.TestCase):
    def assert_refused(self, variable, value, command):
        env = dict(os.environ, **{variable: value})
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=120)
        self.assertNotEqual(result.returncode, 0, result.stdout)
        self.assertIn(variable, result.stderr)

    def test_bad_values_are_refused(self):
        fuzzers = ["sh", os.path.join(SOURCE, "tests", "fuzz", "run_fuzzers.sh"),
                   os.path.join(WORK, "no-build")]
        differential = [sys.executable, os.path.join(SOURCE, "tests", "e2e", "test_differential.py"),
                        "--exe", EXE]
        rows = [("FUZZ_SECONDS", value, fuzzers) for value in BAD_WHOLE_NUMBERS]
        rows += [("CORVANE_DIFF_CASES", value, differential) for value in BAD_WHOLE_NUMBERS + ["0"]]
        rows += [("CORVANE_DIFF_SEED", value, differential) for value in BAD_WHOLE_NUMBERS]
        for variable, value, command in rows:
            with self.subTest(variable=variable, value=value):
                self.assert_refused(variable, value, command)


class RunScriptTest(unittest.TestCase):
    def test_box_not_found_ends_the_session_and_fails(self):
        # run.sh in a tree of its own, with the built program, no installer
        # and no build step, and an xdotool that finds no window.
        root = os.path.join(WORK, "run-tree")
        shutil.rmtree(root, ignore_errors=True)
        stubs = os.path.join(root, "stubs")
        for folder in ("scripts", "stubs", os.path.join("build", "win32")):
            os.makedirs(os.path.join(root, folder))
        shutil.copy(os.path.join(SOURCE, "scripts", "run.sh"), os.path.join(root, "scripts"))
        stub(os.path.join(root, "scripts"), "install-deps.sh", "exit 0")
        stub(stubs, "cmake", "exit 0")
        stub(stubs, "xdotool", "exit 1")
        shutil.copy(EXE, os.path.join(root, "build", "win32", "corvane.exe"))
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WINEPREFIX")}
        env["PATH"] = stubs + os.pathsep + env["PATH"]
        started = time.time()
        run = subprocess.Popen(["sh", os.path.join(root, "scripts", "run.sh")], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
        try:
            out, err = run.communicate(timeout=RUN_SCRIPT_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(run.pid, signal.SIGKILL)
            subprocess.run(["wineserver", "-k"], timeout=60,
                           env=dict(env, WINEPREFIX=os.path.join(root, "build", "run", "prefix")))
            self.fail("run.sh was still waiting after %d s" % RUN_SCRIPT_SECONDS)
        print("run.sh ended after %.0f s" % (time.time() - started), file=sys.stderr)
        self.assertEqual(run.returncode, 1, out + err)
        self.assertIn('the window "Corvane - Wine desktop" was not found', err)
        # Its Xvfb and every Wine process carry the run's prefix in their
        # environment; none may be left.
        prefix = os.path.join(root, "build", "run", "prefix")
        deadline = time.time() + 20
        while processes_with("WINEPREFIX", prefix) and time.time() < deadline:
            time.sleep(0.5)
        left = processes_with("WINEPREFIX", prefix)
        for pid in left:
            os.kill(pid, signal.SIGKILL)
        self.assertEqual(left, [], "run.sh left processes behind")


def main():
    global EXE, SOURCE, WORK
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    args, rest = parser.parse_known_args()
    EXE, SOURCE, WORK = (os.path.abspath(p) for p in (args.exe, args.source, args.work))
    os.makedirs(WORK, exist_ok=True)
    sys.exit(0 if run_tests([sys.argv[0]] + rest, "e2e script cases") else 1)


if __name__ == "__main__":
    main()
