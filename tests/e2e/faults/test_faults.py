"""Faults under Wine must end in the exact "Runtime error" report, shown in
"Error" boxes, and exit with the run-time error number.

The shipped corvane.exe, unchanged on disk, meets its faults inside
platform calls: the launcher points one of its import slots at a stand-in
that faults (tools/launch.c, --fault). corvane-faults.exe, the same frame
built the same way with a dispatch that raises faults on demand, covers
what only code inside the program can: storage exhaustion, a fault inside
a registered exception frame, inside the report, or below a broken or very
deep frame chain.

    /usr/bin/python3 test_faults.py --faults corvane-faults.exe
        --map corvane-faults.map --product corvane.exe [--launcher ...]

A back-trace must hold, whatever the compiler inlined: the fault's address
first, then return addresses into the image's code, each just after a call,
ending at the return address of the start-up routine's call of the main
sequence, and nothing after it.
"""

import argparse
import os
import re
import struct
import sys
import unittest

import pefile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import known_differences as known  # noqa: E402
from winetest import WineSession, run_tests  # noqa: E402

FAULTS = PRODUCT = MAP = LAUNCHER = None
SHIPPED = HARNESS = None  # their code, as Code
wine = None

ERROR_TEXT_CAPACITY = 1024
FRAME_LIMIT = 257            # frames the walk visits on a channel that is no device
BREAKPOINT = 0x80000003
FPU_RESERVED_BITS = 0xE040
HEADER = re.compile(rb"^Runtime error (\d+) at 0x([0-9A-F]{8})$")
LINE = re.compile(rb"^  0x([0-9A-F]{8})$")
THREAD_STATE = re.compile(rb"^chain ([0-9A-F]{8}) start-up ([0-9A-F]{8}) record ([0-9A-F]{8})"
                          rb" calls ([0-9A-F]{2}) direction ([01]) then ([01])$")
# The start-up routine clears EBP, which ends the frame chain, and calls
# the main sequence: xor %ebp,%ebp; call rel32.
CLEAR_FRAME_AND_CALL = b"\x31\xed\xe8"

# Where the shipped image calls the platform: the call site, the function
# whose import slot gets the stand-in, and a command line that calls it.
SITES = [
    ("start-up", "GetCommandLineA", b"corvane.exe 1"),
    ("dispatch", "LockWorkStation", b"corvane.exe"),
    ("help box", "MessageBoxA", b"corvane.exe ?"),
]
# The stand-in's faults (kFaultKinds in launch.c) that a platform routine
# can raise, and the run-time error each must end in. The x87 ones fault
# because the program's control word unmasks zero divide, invalid
# operation and overflow.
STAND_IN_FAULTS = [
    ("access", 216), ("intdiv", 200), ("illegal", 217), ("privileged", 217),
    ("stack", 202), ("fpdiv", 200), ("fpinvalid", 207), ("fpoverflow", 205),
]
X87_FAULTS = ("fpdiv", "fpinvalid", "fpoverflow")
# What Wine makes of them under a user-mode emulator: a SIGSEGV becomes an
# illegal instruction, a SIGFPE is named by the x87 status word.
EMULATED_NUMBERS = {"access": {217}, "privileged": {217}, "stack": {217},
                    "intdiv": {200, 205, 206, 207, 216}}
# Wine's seh channel names every exception it dispatches. A report that
# never showed is explained by what was raised: a second fault ends the
# report at once, with the first one's number as the exit code.
WINE_DEBUG = "-all,+seh"
RAISED = re.compile(r"^([0-9a-f]+):trace:seh:dispatch_exception code=(\w+) flags=\w+ "
                    r"addr=([0-9a-f]{8}) ", re.M)


def report_missing(result):
    """What a run without its one Error box showed, and the exceptions
    dispatched in 32-bit code during it."""
    raised = ["thread %s: code %s at %s" % m.groups() for m in RAISED.finditer(result.stderr)]
    return "boxes %r, exit code %r, raised: %s" % (result.boxes, result.exit_code, raised)


class Code:
    """An image's code, read from its file: which addresses are return
    addresses, and where every back-trace ends."""

    def __init__(self, path):
        pe = pefile.PE(path)
        self.preferred_base = pe.OPTIONAL_HEADER.ImageBase
        text = next(s for s in pe.sections if s.Name.rstrip(b"\0") == b".text")
        self.start, self.bytes = text.VirtualAddress, text.get_data()[:text.Misc_VirtualSize]
        self.end = self.start + len(self.bytes)
        self.slots = {i.name.decode(): i.address - self.preferred_base
                      for d in pe.DIRECTORY_ENTRY_IMPORT for i in d.imports}
        entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint - self.start
        call = self.bytes.index(CLEAR_FRAME_AND_CALL, entry) + len(CLEAR_FRAME_AND_CALL) - 1
        self.start_up_return = self.start + call + 5

    def call_before(self, rva):
        """The call that ends right before rva: ("slot", import slot rva),
        ("direct", target rva) or ("indirect", None); None if there is none."""
        at, code = rva - self.start, self.bytes
        if not 6 <= at <= len(code):
            return None
        if code[at - 6:at - 4] == b"\xff\x15":
            return "slot", struct.unpack_from("<I", code, at - 4)[0] - self.preferred_base
        if code[at - 5] == 0xE8:
            target = rva + struct.unpack_from("<i", code, at - 4)[0]
            if self.start <= target < self.end:
                return "direct", target
        # call *%reg, call *(%reg), call *disp8(%reg)
        if (code[at - 2] == 0xFF and (0xD0 <= code[at - 1] <= 0xD7 or 0x10 <= code[at - 1] <= 0x17)
                or code[at - 3] == 0xFF and 0x50 <= code[at - 2] <= 0x57):
            return "indirect", None
        return None


class LinkMap:
    """Where each routine of corvane-faults.exe lies, from the linker map."""

    def __init__(self, path):
        self.ranges = []
        pending = None
        with open(path, encoding="latin-1") as f:
            for line in f:
                m = re.match(r"^ \.text\$(\S+)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+))?", line)
                if m:
                    pending = m.group(1)
                    if m.group(2):
                        self._add(pending, m.group(2), m.group(3))
                        pending = None
                    continue
                m = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s", line)
                if m and pending:
                    self._add(pending, m.group(1), m.group(2))
                    pending = None

    def _add(self, name, start, size):
        start, size = int(start, 16), int(size, 16)
        if size:
            self.ranges.append((name, start, start + size))

    def routine(self, address):
        for name, start, end in self.ranges:
            if start <= address < end:
                return name
        return ""


def box_texts(boxes, caption):
    return [b.text for b in boxes if b.caption == caption]


def shown_boxes(lines):
    """What the error-box channel shows for these report lines: each line is
    handed over whole at its line end."""
    shown, collected = [], b""
    for line in lines:
        chunk = line + b"\r\n"
        collected += chunk[:ERROR_TEXT_CAPACITY - len(collected)]
        if len(collected) == ERROR_TEXT_CAPACITY or (
                len(collected) > 3 and all(c in b"\r\n" for c in collected[-3:])):
            shown.append(collected)
            collected = b""
    if collected:
        shown.append(collected)
    return shown


class FaultCase(unittest.TestCase):
    def single_report(self, result):
        """The lines of the one Error box, the empty last line included."""
        errors = [b for b in result.boxes if b.caption == b"Error"]
        self.assertEqual(len(errors), 1, report_missing(result))
        self.assertFalse(errors[0].has_icon)
        self.assertTrue(errors[0].text.endswith(b"\r\n\r\n"), errors[0].text)
        return errors[0].text[:-2].split(b"\r\n")[:-1] + [b""]

    def check_header(self, lines, number):
        m = HEADER.match(lines[0])
        self.assertIsNotNone(m, lines[0])
        self.assertEqual(int(m.group(1)), number)
        address = int(m.group(2), 16)
        self.assertEqual(lines[1], b"  0x%08X" % address)
        return address

    def check_back_trace(self, lines, code, base, slot=None, to_start_up=True):
        """The frames after the fault's address: return addresses into
        code, each after a call, the first after the call through `slot`
        when given, the last at the start-up frame unless the chain is
        broken; then the empty line that ends the report."""
        self.assertEqual(lines[-1], b"")
        walked = []
        for line in lines[2:-1]:
            m = LINE.match(line)
            self.assertIsNotNone(m, line)
            walked.append(int(m.group(1), 16) - base)
        self.assertTrue(walked, "no frame after the fault's address")
        if slot is not None:
            self.assertEqual(code.call_before(walked[0]), ("slot", slot),
                             "the platform call's own return address comes first")
        for rva in walked:
            self.assertIsNotNone(code.call_before(rva), "0x%08X follows no call" % (base + rva))
        if to_start_up:
            self.assertEqual(walked[-1], code.start_up_return, "the last frame is the start-up frame's")
        return walked


class ShippedImageTest(FaultCase):
    """corvane.exe itself, with one platform call that faults."""

    def run_site(self, function, command_line, fault, trace=False):
        return wine.run_with_stand_in(PRODUCT, command_line, fault, SHIPPED.slots[function],
                                      trace=trace, timeout=240)

    def test_faults_inside_platform_calls(self):
        for site, function, command_line in SITES:
            for fault, number in STAND_IN_FAULTS:
                with self.subTest(site=site, fault=fault):
                    r = self.run_site(function, command_line, fault)
                    fault_address, base = r.stand_in
                    if fault in X87_FAULTS and not box_texts(r.boxes, b"Error"):
                        self.assertTrue(known.broken(known.EMULATED_X87_NO_TRAP, True),
                                        "no Error box: " + report_missing(r))
                        continue
                    lines = self.single_report(r)
                    shown = int(HEADER.match(lines[0]).group(1))
                    self.assertTrue(shown == number or known.broken(
                        known.EMULATED_FAULT_CODES, shown in EMULATED_NUMBERS.get(fault, ())),
                        "run-time error %d, not %d" % (shown, number))
                    self.assertEqual(self.check_header(lines, shown), fault_address)
                    self.assertEqual(r.exit_code, shown)
                    self.check_back_trace(lines, SHIPPED, base, SHIPPED.slots[function])
                    print("\n  %s, %s in %s: %s" % (site, fault, function,
                                                    b" | ".join(lines[:-1]).decode()),
                          file=sys.stderr, end="")

    def test_breakpoint_is_left_to_the_platform(self):
        for site, function, command_line in SITES:
            with self.subTest(site=site):
                r = self.run_site(function, command_line, "breakpoint")
                self.assertEqual(box_texts(r.boxes, b"Error"), [])
                # Wine's own handling, as Windows': the process ends with the
                # exception code.
                self.assertEqual(r.exit_code, BREAKPOINT)

    def test_report_box_and_the_end_of_the_run(self):
        r = self.run_site("LockWorkStation", b"corvane.exe", "access", trace=True)
        tail = [(c.function, c.args) for c in r.calls[-3:]]
        self.assertEqual(tail[0][0], "MessageBoxA")
        self.assertEqual((tail[0][1][0], tail[0][1][2], tail[0][1][3]), (0, b"Error", 0))
        self.assertEqual(tail[1:], [("SetUnhandledExceptionFilter", [0]), ("ExitProcess", [216])])


class HarnessTest(FaultCase):
    """corvane-faults.exe: faults raised from inside the program."""

    def raise_fault(self, mode, trace=False):
        return wine.run(FAULTS, b"corvane-faults.exe " + mode, trace=trace, timeout=240)

    def check_simple_fault(self, mode, number, routine, to_start_up=True):
        """A fault in `routine`; its back-trace as FaultCase requires."""
        r = self.raise_fault(mode)
        self.assertEqual(r.exit_code, number)
        lines = self.single_report(r)
        address = self.check_header(lines, number)
        self.assertIn(routine, MAP.routine(address))
        walked = self.check_back_trace(lines, HARNESS, HARNESS.preferred_base,
                                       to_start_up=to_start_up)
        return r, walked

    def test_call_through_null_pointer_still_reports(self):
        r = self.raise_fault(b"null-call")
        self.assertEqual(r.exit_code, 216)
        lines = self.single_report(r)
        self.assertEqual(lines[:2], [b"Runtime error 216 at 0x00000000", b"  0x00000000"])
        # The call's own return address is on the stack, not in a frame
        # record: the walk starts in the routine that made the call.
        self.check_back_trace(lines, HARNESS, HARNESS.preferred_base)

    def test_float_division_by_zero_resets_the_fpu(self):
        r = self.raise_fault(b"fpdiv")
        self.assertEqual(r.exit_code, 200)
        self.assertEqual([b.caption for b in r.boxes], [b"Error", b"Probe"])
        self.assertTrue(HEADER.match(r.boxes[0].text.split(b"\r\n")[0]).group(1) == b"200")
        # Seen from inside the report's MessageBoxA call: the default control
        # word (the fault ran with 0x027B) and no exception left pending.
        m = re.match(rb"^fpu control ([0-9A-F]{4}) status ([0-9A-F]{4})$", r.boxes[1].text)
        self.assertIsNotNone(m, r.boxes[1].text)
        control, status = int(m.group(1), 16), int(m.group(2), 16)
        self.assertEqual((control & ~FPU_RESERVED_BITS, status), (0x1332, 0), r.boxes[1].text)
        reserved_bit = control & 0x40
        self.assertTrue(reserved_bit or known.broken(known.EMULATED_FPU_RESERVED_BIT, True),
                        r.boxes[1].text)

    def test_integer_overflow_trap(self):
        self.check_simple_fault(b"into", 215, "OverflowTrap")

    def test_storage_exhaustion(self):
        r = self.raise_fault(b"storage")
        self.assertEqual(r.exit_code, 203)
        lines = self.single_report(r)
        address = self.check_header(lines, 203)
        # The point in the storage manager that found the platform out of
        # memory: a routine kept on its own, so that the map names it.
        self.assertIn("ObtainPlatformMemory", MAP.routine(address))
        self.check_back_trace(lines, HARNESS, HARNESS.preferred_base)

    def test_error_path_starts_from_the_start_up_thread_state(self):
        # The fault comes inside a frame that registered its own exception
        # record, with the direction flag set, or clear where the emulator
        # would crash Wine's signal handler.
        std = not known.broken(known.EMULATED_DIRECTION_FLAG, True)
        mode = b"registered-std" if std else b"registered"
        print("\n  thread-state case raised as %s" % mode.decode(), file=sys.stderr)
        r, _ = self.check_simple_fault(mode, 216, "FaultInRegisteredFrame")
        probes = box_texts(r.boxes, b"Probe")
        self.assertEqual(len(probes), 1, r.boxes)
        m = THREAD_STATE.match(probes[0])
        self.assertIsNotNone(m, probes[0])
        chain, start_up, record, calls, at_fault, in_error_path = (int(g, 16) for g in m.groups())
        # The record headed the chain when the fault came: its handler was
        # offered the fault. The error path runs with the start-up head.
        known.check(self, known.NO_SEH_NOT_ENFORCED, calls)
        self.assertNotEqual(record, start_up)
        self.assertEqual(chain, start_up)
        self.assertEqual((at_fault, in_error_path), (int(std), 0))

    # -- reports that do not fit one box --------------------------------------

    def check_long_report(self, r, number, routine):
        errors = box_texts(r.boxes, b"Error")
        self.assertGreater(len(errors), 1)
        for text in errors[:-1]:
            self.assertEqual(len(text), ERROR_TEXT_CAPACITY)
        first = errors[0].split(b"\r\n")
        address = self.check_header(first, number)
        self.assertIn(routine, MAP.routine(address))
        repeated = LINE.match(first[2]).group(1)
        self.assertIn(routine, MAP.routine(int(repeated, 16)))
        # The walk stops after 257 frames, all inside the recursion.
        lines = first[:2] + [b"  0x" + repeated] * FRAME_LIMIT + [b""]
        self.assertEqual(errors, shown_boxes(lines))

    def test_deep_recursion_report_spans_boxes(self):
        r = self.raise_fault(b"deep")
        self.assertEqual(r.exit_code, 216)
        self.check_long_report(r, 216, "Recurse")

    def test_stack_overflow_report_fits_the_error_path_stack(self):
        r = self.raise_fault(b"stack")
        self.assertEqual(r.exit_code, 202)
        self.check_long_report(r, 202, "RunAway")
        # "stack used USED of SIZE", the area start-up set aside.
        probes = [t.split() for t in box_texts(r.boxes, b"Probe")]
        self.assertTrue(probes)
        used, size = max(int(p[2], 16) for p in probes), int(probes[0][4], 16)
        self.assertLess(used, size // 2, probes)
        print("\n  error path stack used under Wine: %d of %d bytes" % (used, size), file=sys.stderr)

    # -- broken chains and faults in the report -------------------------------

    def test_corrupted_frame_chain(self):
        for mode in (b"corrupt-far", b"corrupt-odd"):
            with self.subTest(mode=mode):
                _, walked = self.check_simple_fault(mode, 216, "CorruptChain", to_start_up=False)
                # The fault's frame still names its caller; the broken link
                # after it ends the walk.
                self.assertEqual(len(walked), 1)

    def test_fault_inside_the_report_ends_with_the_first_number(self):
        r = self.raise_fault(b"report-fault")
        self.assertEqual(r.exit_code, 200)
        self.assertEqual(box_texts(r.boxes, b"Error"), [])

    def test_no_fault_no_box(self):
        r = self.raise_fault(b"none")
        self.assertEqual((r.exit_code, r.boxes), (0, []))


class ProductCase(unittest.TestCase):
    def test_normal_runs_show_no_error_box(self):
        rows = [(b"corvane.exe ?", [b"About Corvane"], None),
                (b"corvane.exe 1", [], known.POWER_ACCEPTED_AT_ONCE),
                (b"corvane.exe 0", [], known.LOCK_REFUSED)]
        for command_line, captions, difference in rows:
            with self.subTest(command_line=command_line):
                r = wine.run(PRODUCT, command_line, trace=True)
                self.assertEqual([b.caption for b in r.boxes], captions)
                if difference:
                    known.check(self, difference, r.exit_code)
                else:
                    self.assertEqual(r.exit_code, 0)
                names = [c.function for c in r.calls]
                self.assertEqual(r.calls[0].function, "SetUnhandledExceptionFilter")
                self.assertNotEqual(r.calls[0].args[0], 0)
                std = [c.args[0] for c in r.calls if c.function == "GetStdHandle"]
                self.assertEqual(std, [0xFFFFFFF6, 0xFFFFFFF5, 0xFFFFFFF4])
                self.assertLess(names.index("GetStdHandle"), names.index("GetCommandLineA"))
                tail = [(c.function, c.args) for c in r.calls[-2:]]
                self.assertEqual(tail, [("SetUnhandledExceptionFilter", [0]),
                                        ("ExitProcess", [r.exit_code])])


def main():
    global FAULTS, PRODUCT, MAP, LAUNCHER, SHIPPED, HARNESS, wine
    parser = argparse.ArgumentParser()
    parser.add_argument("--faults", required=True)
    parser.add_argument("--map", required=True)
    parser.add_argument("--product", required=True)
    parser.add_argument("--launcher")
    args, rest = parser.parse_known_args()
    FAULTS, PRODUCT, LAUNCHER = args.faults, args.product, args.launcher
    MAP = LinkMap(args.map)
    SHIPPED, HARNESS = Code(PRODUCT), Code(FAULTS)
    with WineSession("faults", launcher=LAUNCHER) as session:
        session.env["WINEDEBUG"] = WINE_DEBUG
        wine = session
        success = run_tests([sys.argv[0]] + rest, "e2e fault cases")
    sys.exit(0 if success else 1)


if __name__ == "__main__":
    main()
