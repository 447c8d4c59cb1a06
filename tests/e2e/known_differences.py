"""Where the tests' platform is known to differ from Windows: each
difference once, with its reason, and the two marks the tests put on what
it changes, after Wine's own todo_wine and broken().

check() marks a value Wine 8 gives where Windows gives another. Wine's
value passes; any other value fails with "Wine changed", naming the
difference, so that a Wine that now implements the call shows up as that,
not as a fault of Corvane's, and the mark here is changed or taken off.

broken() marks an outcome allowed only on a machine that has the
difference: the user-mode i386 emulator some machines run 32-bit code with
(see install-deps.sh).
"""

import collections

I386_EMULATOR = "/proc/sys/fs/binfmt_misc/qemu-i386"


def _i386_is_emulated():
    """Whether the kernel hands 32-bit programs to a user-mode emulator."""
    try:
        with open(I386_EMULATOR, encoding="ascii") as f:
            return f.readline().strip() == "enabled"
    except OSError:
        return False


EMULATED = _i386_is_emulated()


class Difference(collections.namedtuple("Difference", "what wine windows reason here")):
    """what differs; what Wine 8 gives (None where nothing is checked against
    it); what Windows gives; why; and whether this machine has it."""


def _wine(what, wine, windows, reason):
    return Difference(what, wine, windows, reason, True)


def _emulator(what, reason):
    return Difference(what, None, None, reason, EMULATED)


# -- Wine 8 ------------------------------------------------------------------

LOCK_REFUSED = _wine(
    "a lock's exit code", 1, 0,
    "Wine's LockWorkStation is a stub that returns FALSE; on Windows, in an "
    "interactive session, it locks and returns TRUE")
POWER_ACCEPTED_AT_ONCE = _wine(
    "a suspend's or hibernate's exit code", 0,
    "0 once the machine has woken up, 1 when it did not suspend",
    "Wine's SetSystemPowerState does nothing and returns TRUE at once")
FORCED_END_ENDS_LAUNCHER = _wine(
    "the exit code of a forced log-off, reboot or shutdown", None,
    "the exit code, before the session ends",
    "Wine's ExitWindowsEx returns at once and leaves wineboot to carry it out; "
    "a forced one ends every process of the Wine session a moment later, the "
    "test launcher included, which may not live to read the exit code")
UNFORCED_END_LEAVES_WINEBOOT = _wine(
    "an unforced log-off, reboot or shutdown", None, "the session ends",
    "Wine's ExitWindowsEx returns TRUE at once and leaves a \"wineboot "
    "--end-session\" that ends every process with a window a moment later, "
    "whichever program owns it: a case ends only when what it started has ended")
TASK_SCHEDULER_DROPS_PRINCIPAL = _wine(
    "a registered task's principal, action and counts", "error 80004001",
    "the values the task file gives",
    "Wine's Task Scheduler skips GroupId, RunLevel and Exec as it reads a task "
    "and answers E_NOTIMPL for them and for the counts")
SCHTASKS_SILENT = _wine(
    "what schtasks /run prints for another PC", "nothing", "a line saying it ran the task",
    "Wine's schtasks accepts /run and /query with /s for any PC name, does "
    "nothing and prints nothing")
SHUTDOWN_STUB = _wine(
    "what shutdown does", "its arguments, reported as a fixme", "it restarts or shuts down PCs",
    "Wine's shutdown is a stub that only reports the arguments it was given, "
    "which the tests read to see what reached it")
NO_SEH_NOT_ENFORCED = _wine(
    "calls of a handler registered inside an image marked NO_SEH", 1, 0,
    "Wine offers an exception to every registered handler; Windows calls none "
    "inside an image marked NO_SEH")
RELAY_STRING_CUT = _wine(
    "a long string argument in the relay trace", "its first 285 bytes or so", "no trace",
    "WINEDEBUG=+relay shows at most about 290 characters of a string, as "
    "escaped, followed by ...; the box itself shows the whole text")
RELAY_FORMAT = _wine(
    "the relay trace's lines", "Call and Ret lines as winetest.py parses them", "no trace",
    "the program's calls are read from WINEDEBUG=+relay,+loaddll, a format of "
    "Wine's own")

# -- the user-mode i386 emulator ---------------------------------------------

EMULATED_FAULT_CODES = _emulator(
    "the exception code of a processor fault",
    "the emulator gives Wine every fault with trap number -1, so Wine cannot "
    "tell the kind: it reports a SIGSEGV as an illegal instruction (217) and a "
    "SIGFPE by the x87 status word")
EMULATED_X87_NO_TRAP = _emulator(
    "an unmasked x87 exception",
    "x87 exceptions never trap under the emulator: the instruction goes on")
EMULATED_FPU_RESERVED_BIT = _emulator(
    "the x87 control word's reserved bit 6", "the emulator reads it back as 0, hardware as 1")
EMULATED_DIRECTION_FLAG = _emulator(
    "a fault with the direction flag set",
    "the emulator leaves the flag set into Wine's signal handler, which then "
    "crashes; a kernel clears it")


def changed(difference, seen):
    return ("Wine changed: %s: %s, where Wine 8 gave %s (%s); on Windows: %s. "
            "Change or take off the mark in known_differences.py."
            % (difference.what, seen, difference.wine, difference.reason, difference.windows))


def check(test, difference, observed, wine=None):
    """todo_wine: `observed` is what Wine 8 gives (difference.wine, or
    `wine` where the difference shows in another value)."""
    expected = difference.wine if wine is None else wine
    if observed != expected:
        test.fail(changed(difference._replace(wine=repr(expected)), "now %r" % (observed,)))


def broken(difference, condition):
    """broken(): true only where this machine has the difference."""
    return difference.here and condition
