"""The scripts a user runs fail loudly when they cannot do their job.

    python3 test_scripts.py --exe build/win32/corvane.exe
        --faults build/win32/tests/e2e/faults/corvane-faults.exe --source . --work DIR

A mistyped option is refused, by test.sh before it builds anything, not
taken as "skip" or a short run. scripts/run.sh saves a picture only of the
help box, exits with corvane.exe's exit code, and gives up on a box it
cannot find; every run ends its Wine session and its Xvfb.
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

import known_differences as known
from winetest import prefix_processes, run_tests

EXE = FAULTS = SOURCE = WORK = None

BAD_WHOLE_NUMBERS = ["10m", "abc", "-1", " 5", "1e3", "3.5"]
# The box wait (90 s) plus a fresh prefix, with room for an emulated Wine.
RUN_SCRIPT_SECONDS = 420
REACHED = "install-deps reached"


def stub(folder, name, body):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n%s\n" % body)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)


def script_tree(name, script, exe=None, stubs=()):
    """A tree of its own holding scripts/SCRIPT, an install-deps.sh that
    says it was reached, and cmake and each of stubs as do-nothing programs
    ahead on PATH; with exe as the built corvane.exe. Returns (root, PATH)."""
    root = os.path.join(WORK, name)
    shutil.rmtree(root, ignore_errors=True)
    folder = os.path.join(root, "stubs")
    for sub in ("scripts", "stubs", os.path.join("build", "win32")):
        os.makedirs(os.path.join(root, sub))
    shutil.copy(os.path.join(SOURCE, "scripts", script), os.path.join(root, "scripts"))
    stub(os.path.join(root, "scripts"), "install-deps.sh", "echo '%s' >&2" % REACHED)
    for program, body in (("cmake", "exit 0"),) + tuple(stubs):
        stub(folder, program, body)
    if exe:
        shutil.copy(exe, os.path.join(root, "build", "win32", "corvane.exe"))
    return root, folder + os.pathsep + os.environ["PATH"]


class OptionTest(unittest.TestCase):
    def assert_refused(self, variable, value, command, env=None):
        env = dict(env or os.environ, **{variable: value})
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=120)
        self.assertNotEqual(result.returncode, 0, result.stdout)
        self.assertIn(variable, result.stderr)
        self.assertNotIn(REACHED, result.stderr, "refused only after installing and building")

    def test_bad_values_are_refused(self):
        fuzzers = ["sh", os.path.join(SOURCE, "tests", "fuzz", "run_fuzzers.sh"),
                   os.path.join(WORK, "no-build")]
        differential = [sys.executable, os.path.join(SOURCE, "tests", "e2e", "test_differential.py"),
                        "--exe", EXE]
        root, path = script_tree("test-tree", "test.sh")
        whole_run = (["sh", os.path.join(root, "scripts", "test.sh")], dict(os.environ, PATH=path))
        rows = [("FUZZ_SECONDS", value, fuzzers, None) for value in BAD_WHOLE_NUMBERS]
        rows += [("CORVANE_DIFF_CASES", value, differential, None)
                 for value in BAD_WHOLE_NUMBERS + ["0"]]
        rows += [("CORVANE_DIFF_SEED", value, differential, None) for value in BAD_WHOLE_NUMBERS]
        rows += [(variable, value) + whole_run
                 for variable in ("FUZZ_SECONDS", "CORVANE_DIFF_SEED", "CORVANE_DIFF_CASES")
                 for value in BAD_WHOLE_NUMBERS]
        rows.append(("CORVANE_DIFF_CASES", "0") + whole_run)
        for variable, value, command, env in rows:
            with self.subTest(script=os.path.basename(command[1]), variable=variable, value=value):
                self.assert_refused(variable, value, command, env)


class RunScriptTest(unittest.TestCase):
    def run_script(self, name, exe, argument, stubs=()):
        """run.sh ARGUMENT in a tree of its own, without a display; returns
        (exit code, stdout, stderr, pictures saved)."""
        root, path = script_tree(name, "run.sh", exe, stubs)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "XAUTHORITY", "WINEPREFIX")}
        env["PATH"] = path
        started = time.time()
        run = subprocess.Popen(["sh", os.path.join(root, "scripts", "run.sh"), argument], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
        prefix = os.path.join(root, "build", "run", "prefix")
        # A fresh prefix is 1.3 GB, and nothing needs it after the run.
        self.addCleanup(shutil.rmtree, prefix, True)
        try:
            out, err = run.communicate(timeout=RUN_SCRIPT_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(run.pid, signal.SIGKILL)
            subprocess.run(["wineserver", "-k"], timeout=60, env=dict(env, WINEPREFIX=prefix))
            self.fail("run.sh was still waiting after %d s" % RUN_SCRIPT_SECONDS)
        print("run.sh %s ended after %.0f s" % (argument, time.time() - started), file=sys.stderr)
        # run.sh waits for its Wine processes and its Xvfb, which carry the
        # run's prefix in their environment, before it ends.
        left = prefix_processes(prefix)
        for process in left:
            os.kill(int(process.split()[0]), signal.SIGKILL)
        self.assertEqual(left, [], "run.sh left processes behind")
        shutil.rmtree(prefix)
        run_dir = os.path.join(root, "build", "run")
        pictures = sorted(f for f in os.listdir(run_dir) if f.endswith("-box.png"))
        return run.returncode, out, err, pictures

    def test_verdicts(self):
        # run.sh exits with Corvane's exit code, or 1 where it cannot do its job.
        lock = known.LOCK_REFUSED.wine
        rows = [
            ("help", EXE, "?", 0, 0, ["help-box.png"], "Saved a picture of the help box"),
            ("lock", EXE, "0", lock, lock, [], "No help box appeared"),
            ("fault", FAULTS, "null-call", 216, 1, ["other-box.png"],
             'the box shown is "Error", not the help box "About Corvane"'),
        ]
        for name, exe, argument, corvane_code, code, pictures, said in rows:
            with self.subTest(case=name):
                status, out, err, saved = self.run_script("run-" + name, exe, argument)
                last = out.rstrip("\n").split("\n")[-1]
                if name == "lock":
                    known.check(self, known.LOCK_REFUSED, last, wine="corvane.exe exit code: %d" % lock)
                self.assertEqual(status, code, out + err)
                self.assertEqual(saved, pictures)
                self.assertIn(said, out + err)
                self.assertEqual(last, "corvane.exe exit code: %d" % corvane_code)

    def test_box_not_found_ends_the_session_and_fails(self):
        # An xdotool that finds no window.
        status, out, err, saved = self.run_script("run-no-box", EXE, "?", [("xdotool", "exit 1")])
        self.assertEqual(status, 1, out + err)
        self.assertIn('the window "Corvane - Wine desktop" was not found', err)
        self.assertEqual(saved, [])


def main():
    global EXE, FAULTS, SOURCE, WORK
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--faults", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    args, rest = parser.parse_known_args()
    EXE, FAULTS, SOURCE, WORK = (os.path.abspath(p) for p in
                                 (args.exe, args.faults, args.source, args.work))
    os.makedirs(WORK, exist_ok=True)
    sys.exit(0 if run_tests([sys.argv[0]] + rest, "e2e script cases") else 1)


if __name__ == "__main__":
    main()
