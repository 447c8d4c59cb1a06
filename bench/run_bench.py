#!/usr/bin/python3
"""corvane.exe's size and start-up cost under Wine.

    bench/run_bench.py [--build build/win32] [--rounds 150] [--seed N]

Prints the file size with a breakdown by section; the whole-process time of
`corvane.exe 0` (a lock, which Wine refuses) beside corvane-idle.exe, which
imports the same functions but only calls ExitProcess(0), and of the 32-bit
`rundll32.exe user32.dll,LockWorkStation`; and how many storage blocks and
bytes one run of `corvane.exe 0` asks the storage manager for, counted by
running the command line's and the dispatch's code, built for i686, against
the tests' recording storage manager under Wine, with the same command line
and module path (bench/storage_census.cpp).

The times come from corvane-timer.exe, which runs inside Wine and starts
each image in turn after the same quiet gap, in a fresh random order every
round (the seed is printed; --seed replays the order). The verdict on the
goal of corvane.exe costing at most 5% more than its twin takes the median
of the per-round ratios and a bootstrap interval around it: the goal is met
when the interval's upper end is at most 1.05.

Needs the win32 build (corvane, corvane-idle, corvane-timer,
corvane-storage-census). Uses a throw-away WINEPREFIX under build/e2e/bench/ and an
Xvfb display, and ends both when done.
"""

import argparse
import os
import random
import re
import statistics
import sys

import pefile

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO_ROOT, "tests", "e2e"))
from winetest import WineSession, run_wine, windows_path  # noqa: E402
MIN_ROUNDS = 20
GAP_MS = 100
RESAMPLES = 2000
RATIO_GOAL = 1.05
SIZE_BUDGET = 16384


def section_rows(path):
    pe = pefile.PE(path)
    rows = [("headers", pe.OPTIONAL_HEADER.SizeOfHeaders, pe.OPTIONAL_HEADER.SizeOfHeaders)]
    for s in pe.sections:
        rows.append((s.Name.rstrip(b"\0").decode(), s.Misc_VirtualSize, s.SizeOfRawData))
    return rows, os.path.getsize(path)


def print_size(path):
    rows, size = section_rows(path)
    print("%s: %d bytes (budget %d)" % (os.path.basename(path), size, SIZE_BUDGET))
    print("  %-8s %8s %8s" % ("section", "memory", "file"))
    for name, memory, stored in rows:
        print("  %-8s %8d %8d" % (name, memory, stored))


class Wine(WineSession):
    """The tests' throw-away prefix, display and wineserver, for timed runs."""

    def __init__(self):
        super().__init__("bench")

    def run_program(self, args, timeout=120):
        """Runs `wine args` as a session of its own; returns (exit code, stdout)."""
        code, out = run_wine(args, self.env, timeout, keep_stderr=False)
        return code, out.decode("ascii", "replace")

    def system32_program(self, name):
        """The 32-bit build of a Windows program of the prefix."""
        windows = os.path.join(self.prefix, "drive_c", "windows")
        for folder in ("syswow64", "system32"):
            if os.path.exists(os.path.join(windows, folder, name)):
                return "C:\\windows\\%s\\%s" % (folder, name)
        raise SystemExit("run_bench: no %s in the prefix" % name)


def storage_use(wine, census, module_path):
    """(blocks, bytes) that `"MODULE-PATH" 0` asks the storage manager for."""
    command_line = '"%s" 0' % module_path
    code, out = wine.run_program([census, module_path, command_line])
    expected = "module %s\r\ncommand line %s\r\n" % (module_path, command_line)
    m = re.fullmatch(re.escape(expected) + r"blocks (\d+) bytes (\d+)\r\n", out)
    if code != 0 or not m:
        raise SystemExit("run_bench: the storage census printed %r" % out)
    return int(m.group(1)), int(m.group(2))


def time_rounds(wine, timer, command_lines, rounds, rng):
    """Per image, its times in seconds, one a round; and its exit codes."""
    order = []
    for _ in range(rounds + 1):  # the first round only warms the caches
        indices = list(range(len(command_lines)))
        rng.shuffle(indices)
        order += indices
    code, out = wine.run_program([timer, str(GAP_MS), "".join(map(str, order))] + command_lines,
                                 timeout=60 + rounds * len(command_lines) * 2)
    runs = [tuple(map(int, line.split()[1:])) for line in out.splitlines()
            if line.startswith("run ")]
    if code != 0 or len(runs) != len(order):
        raise SystemExit("run_bench: the timer failed: %r" % out[-2000:])
    times = [[] for _ in command_lines]
    codes = [set() for _ in command_lines]
    for index, microseconds, exit_code in runs[len(command_lines):]:
        times[index].append(microseconds / 1e6)
        codes[index].add(exit_code)
    return times, codes


def bootstrap_interval(ratios, rng):
    """95% interval of the median of ratios, resampling whole rounds."""
    medians = sorted(statistics.median(rng.choices(ratios, k=len(ratios)))
                     for _ in range(RESAMPLES))
    return medians[int(0.025 * RESAMPLES)], medians[int(0.975 * RESAMPLES) - 1]


def pin_to_one_cpu():
    """Keeps this process and every Wine process it starts on one CPU.

    Each start makes some 500 round trips to the single-threaded wineserver.
    When the scheduler puts the new process on the other CPU than the server,
    every reply has to wake a halted virtual CPU, and the same start takes
    about twice as long; which one it gets depends on what ended just
    before. On one CPU every start takes the same path.
    """
    cpu = max(os.sched_getaffinity(0))
    os.sched_setaffinity(0, {cpu})
    return cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO_ROOT, "build", "win32"))
    parser.add_argument("--rounds", type=int, default=150)
    parser.add_argument("--seed", type=int, default=random.SystemRandom().randrange(1 << 32))
    args = parser.parse_args()
    if args.rounds < MIN_ROUNDS:
        parser.error("--rounds must be at least %d" % MIN_ROUNDS)
    build = os.path.abspath(args.build)
    exe = os.path.join(build, "corvane.exe")
    idle = os.path.join(build, "bench", "corvane-idle.exe")
    timer = os.path.join(build, "bench", "corvane-timer.exe")
    census = os.path.join(build, "bench", "corvane-storage-census.exe")
    for path in (exe, idle, timer, census):
        if not os.path.exists(path):
            raise SystemExit("run_bench: %s is missing; build the win32 preset first" % path)

    print_size(exe)
    print_size(idle)
    print()

    cpu = pin_to_one_cpu()
    rng = random.Random(args.seed)
    with Wine() as wine:
        blocks, requested = storage_use(wine, census, windows_path(exe))
        rundll32 = wine.system32_program("rundll32.exe")
        programs = [
            ("corvane.exe 0", '"%s" 0' % windows_path(exe)),
            ("corvane-idle.exe", '"%s"' % windows_path(idle)),
            ("rundll32.exe user32.dll,LockWorkStation", rundll32 + " user32.dll,LockWorkStation"),
        ]
        times, codes = time_rounds(wine, timer, [c for _, c in programs], args.rounds, rng)

    print("Whole process under Wine, timed inside Wine from CreateProcessA to its end:")
    print("  %d rounds, a fresh random order each (seed %d), %d ms quiet before each start,"
          " all on CPU %d" % (args.rounds, args.seed, GAP_MS, cpu))
    print("  %-42s %8s  %-15s %6s  exit" % ("", "median", "  quartiles", "min"))
    medians = []
    for (name, _), samples, exit_codes in zip(programs, times, codes):
        q1, median, q3 = statistics.quantiles(samples, n=4)
        medians.append(median)
        print("  %-42s %5.1f ms  (%5.1f-%5.1f)  %6.1f  %s" % (
            name, 1000 * median, 1000 * q1, 1000 * q3, 1000 * min(samples),
            ",".join(map(str, sorted(exit_codes)))))
    # Both images of a round ran moments apart, so their ratio is spared
    # drift in the machine's load.
    ratios = [a / b for a, b in zip(times[0], times[1])]
    ratio = statistics.median(ratios)
    low, high = bootstrap_interval(ratios, rng)
    print("  corvane.exe 0 / corvane-idle.exe: median of the per-round ratios %.3f,"
          " 95%% interval %.3f-%.3f (ratio of the medians %.3f)"
          % (ratio, low, high, medians[0] / medians[1]))
    print("  goal <= %.2f: %s (the interval's upper end is %.3f)"
          % (RATIO_GOAL, "met" if high <= RATIO_GOAL else "missed", high))
    print("  rundll32 / corvane.exe 0: %.3f" % (medians[2] / medians[0]))
    print()
    print("Storage manager, one run of corvane.exe 0 (its code run against the recording"
          " storage manager, with the same command line and module path):")
    print("  %d blocks, %d bytes requested; argument 0, the module path, is %d characters"
          % (blocks, requested, len(windows_path(exe))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
