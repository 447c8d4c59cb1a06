#!/usr/bin/python3
"""corvane.exe's size and start-up cost under Wine.

    bench/run_bench.py [--build build/win32] [--runs 30]

Prints the file size with a breakdown by section; the median whole-process
wall time of `corvane.exe 0` (a lock, which Wine refuses) beside
corvane-idle.exe, which imports the same functions but only calls
ExitProcess(0), and their ratio; the same for the 32-bit
`rundll32.exe user32.dll,LockWorkStation`; and how many storage blocks and
bytes one run of `corvane.exe 0` asks the storage manager for, read from
the real process when it calls ExitProcess.

Needs the win32 build (corvane, corvane-idle, corvane-storage-probe). Uses
a throw-away WINEPREFIX under build/e2e/bench/ and an Xvfb display, and ends
both when done.
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import pefile

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO_ROOT, "tests", "e2e"))
from winetest import WineSession, windows_path  # noqa: E402
MIN_RUNS = 20
WARM_UP_RUNS = 2
RATIO_GOAL = 1.05
SIZE_BUDGET = 12288
SIZE_GOAL = 11264


def section_rows(path):
    pe = pefile.PE(path)
    rows = [("headers", pe.OPTIONAL_HEADER.SizeOfHeaders, pe.OPTIONAL_HEADER.SizeOfHeaders)]
    for s in pe.sections:
        rows.append((s.Name.rstrip(b"\0").decode(), s.Misc_VirtualSize, s.SizeOfRawData))
    return rows, os.path.getsize(path)


def print_size(path):
    rows, size = section_rows(path)
    print("%s: %d bytes (budget %d, goal %d: %+d)" % (os.path.basename(path), size, SIZE_BUDGET,
                                                      SIZE_GOAL, size - SIZE_GOAL))
    print("  %-8s %8s %8s" % ("section", "memory", "file"))
    for name, memory, stored in rows:
        print("  %-8s %8d %8d" % (name, memory, stored))


def symbol_rva(map_path, name, image_base):
    pattern = re.compile(r"^\s+0x([0-9a-f]+)\s+_?%s$" % re.escape(name))
    with open(map_path) as f:
        for line in f:
            m = pattern.match(line.rstrip("\n"))
            if m:
                return int(m.group(1), 16) - image_base
    raise SystemExit("run_bench: %s not found in %s" % (name, map_path))


class Wine(WineSession):
    """The tests' throw-away prefix, display and wineserver, for timed runs."""

    def __init__(self):
        super().__init__("bench")

    def timed_run(self, args, timeout=120):
        """Runs `wine args`; returns (seconds, exit code, stdout).

        Output goes through a file: Wine's helper processes inherit the
        handles and would hold a pipe open long after the program ended.
        """
        with tempfile.TemporaryFile() as out:
            start = time.perf_counter()
            result = subprocess.run(["wine"] + args, env=self.env, timeout=timeout,
                                    stdout=out, stderr=subprocess.DEVNULL)
            seconds = time.perf_counter() - start
            out.seek(0)
            return seconds, result.returncode, out.read().decode("ascii", "replace")

    def system32_program(self, name):
        """The 32-bit build of a Windows program of the prefix."""
        windows = os.path.join(self.prefix, "drive_c", "windows")
        for folder in ("syswow64", "system32"):
            if os.path.exists(os.path.join(windows, folder, name)):
                return "C:\\windows\\%s\\%s" % (folder, name)
        raise SystemExit("run_bench: no %s in the prefix" % name)


def storage_use(wine, build, exe):
    pe = pefile.PE(exe, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    base = pe.OPTIONAL_HEADER.ImageBase
    exit_slot = next(i.address - base for d in pe.DIRECTORY_ENTRY_IMPORT for i in d.imports
                     if i.name == b"ExitProcess")
    map_path = os.path.join(build, "corvane.map")
    blocks = symbol_rva(map_path, "StorageBlockCount", base)
    requested = symbol_rva(map_path, "StorageRequestedBytes", base)
    probe = os.path.join(build, "bench", "corvane-storage-probe.exe")
    _, code, out = wine.timed_run([probe, windows_path(exe), '"%s" 0' % windows_path(exe),
                             "%x" % exit_slot, "%x" % blocks, "%x" % requested])
    m = re.search(r"^values (\d+) (\d+)", out, re.M)
    if code != 0 or not m:
        raise SystemExit("run_bench: the storage probe failed: %r" % out)
    return int(m.group(1)), int(m.group(2))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO_ROOT, "build", "win32"))
    parser.add_argument("--runs", type=int, default=30)
    args = parser.parse_args()
    if args.runs < MIN_RUNS:
        parser.error("--runs must be at least %d" % MIN_RUNS)
    build = os.path.abspath(args.build)
    exe = os.path.join(build, "corvane.exe")
    idle = os.path.join(build, "bench", "corvane-idle.exe")
    for path in (exe, idle):
        if not os.path.exists(path):
            raise SystemExit("run_bench: %s is missing; build the win32 preset first" % path)

    print_size(exe)
    print_size(idle)
    print()

    with Wine() as wine:
        blocks, requested = storage_use(wine, build, exe)
        rundll32 = wine.system32_program("rundll32.exe")
        programs = [
            ("corvane.exe 0", [exe, "0"]),
            ("corvane-idle.exe", [idle]),
            ("rundll32.exe user32.dll,LockWorkStation", [rundll32, "user32.dll,LockWorkStation"]),
        ]
        times = {name: [] for name, _ in programs}
        codes = {name: set() for name, _ in programs}
        for _ in range(WARM_UP_RUNS):
            for _, command in programs:
                wine.timed_run(command)
        # Interleaved, so that drift in the machine's load hits all alike.
        for _ in range(args.runs):
            for name, command in programs:
                seconds, code, _ = wine.timed_run(command)
                times[name].append(seconds)
                codes[name].add(code)

    print("Wall time of the whole process under Wine, %d runs each (median, min-max):" % args.runs)
    medians = {}
    for name, _ in programs:
        medians[name] = statistics.median(times[name])
        print("  %-42s %7.1f ms  (%.1f-%.1f)  exit %s" % (
            name, 1000 * medians[name], 1000 * min(times[name]), 1000 * max(times[name]),
            ",".join(map(str, sorted(codes[name])))))
    ratio = medians["corvane.exe 0"] / medians["corvane-idle.exe"]
    print("  ratio corvane.exe 0 / corvane-idle.exe: %.3f (goal <= %.2f: %s)" % (
        ratio, RATIO_GOAL, "met" if ratio <= RATIO_GOAL else "missed"))
    # Each round runs both back to back, so a round's ratio is spared most
    # of the drift in the machine's load.
    paired = statistics.median(a / b for a, b in zip(times["corvane.exe 0"],
                                                     times["corvane-idle.exe"]))
    print("  median of the per-round ratios: %.3f" % paired)
    print("  ratio rundll32 / corvane.exe 0: %.3f" % (
        medians["rundll32.exe user32.dll,LockWorkStation"] / medians["corvane.exe 0"]))
    print()
    print("Storage manager, one run of corvane.exe 0 (read from the process at ExitProcess):")
    print("  %d blocks, %d bytes requested; argument 0, the module path, is %d characters"
          % (blocks, requested, len(windows_path(exe))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
