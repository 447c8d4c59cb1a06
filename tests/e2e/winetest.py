"""Runs Windows programs under Wine the way a user would, for black-box tests.

A WineSession owns a throw-away WINEPREFIX under build/e2e/NAME and an Xvfb
display only this account may use, and removes both on exit. Its run()
starts a program through the launcher (tools/launch.c) with the exact
command-line bytes, presses OK on every message box the program shows
after reading it, and records the program's own platform calls from Wine's
relay trace. Each launcher, and each other Wine program the tests run, is
a Wine session of its own: its wineserver ends the session once the
program has ended, and nothing new starts until it has, every process of
it with it (await_session_end). A process of the prefix still running
after that fails the test, named.

Making a prefix takes Wine most of half a minute, so CTest makes one per
run (`winetest.py --make-template DIR`) and every session copies it; the
environment variable CORVANE_WINE_TEMPLATE names it. Without it a session
makes its own.
"""

import collections
import os
import re
import secrets
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import known_differences as known

REPO_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEFAULT_LAUNCHER = os.path.join(REPO_ROOT, "build", "win32", "tests", "e2e", "corvane-launch.exe")

# Everything corvane.exe imports. Relay tracing is limited to these so that
# traces stay small and fast.
TRACED_FUNCTIONS = (
    "user32.LockWorkStation", "user32.ExitWindowsEx", "user32.MessageBoxA",
    "advapi32.OpenProcessToken", "advapi32.LookupPrivilegeValueA",
    "advapi32.AdjustTokenPrivileges",
    "kernel32.SetSystemPowerState", "kernel32.GetCommandLineA",
    "kernel32.GetModuleFileNameA", "kernel32.GetStdHandle",
    "kernel32.SetUnhandledExceptionFilter", "kernel32.ExitProcess",
    "kernel32.GetFileType", "kernel32.GlobalAlloc", "kernel32.GlobalLock",
)

Box = collections.namedtuple("Box", "caption text has_icon")


class Call(collections.namedtuple("Call", "dll function args retval")):
    """One platform call made by the program itself.

    args holds one entry per argument: the string for string arguments
    (bytes, unescaped), otherwise the value as an int. retval is an int, or
    None when the call never returned (ExitProcess).
    """

    def __repr__(self):
        shown = ", ".join(a.decode("latin-1") if isinstance(a, bytes) else "0x%x" % a
                          for a in self.args)
        return "%s(%s)" % (self.function, shown)


class RunResult(collections.namedtuple("RunResult", "exit_code boxes calls stderr stand_in",
                                        defaults=(None,))):
    """exit_code is None when the launcher was ended before the program.
    stand_in is (fault address, image base) when the run had a stand-in."""

    def called(self, function):
        return [c for c in self.calls if c.function == function]


class WineError(Exception):
    pass


TEMPLATE_VARIABLE = "CORVANE_WINE_TEMPLATE"
SERVER_FOLDER_NOTE = "wineserver"
TEMPLATE_READY = "ready"
# The first start of Wine in a new prefix, once and at most twice more;
# see make_prefix().
FIRST_START_ATTEMPTS = 3
FIRST_START_SECONDS = 300
# For the wineserver to end and every process of its session with it.
SESSION_END_SECONDS = 60


EWX_FORCE = 4
# How long the launcher waits for what a program started to end
# (kSettleMilliseconds in tools/launch.c).
LAUNCHER_SETTLE_SECONDS = 60


def ends_session(result):
    """Whether the run asked Wine to end the session by force."""
    return any(c.function == "ExitWindowsEx" and c.args and isinstance(c.args[0], int)
               and c.args[0] & EWX_FORCE for c in result.calls)


def windows_path(path):
    """The Z: drive of a default prefix maps the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def image_size(path):
    """SizeOfImage from the PE optional header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<I", data, pe + 24 + 56)[0]


_ESCAPES = {"n": 10, "r": 13, "t": 9, '"': 34, "\\": 92}


def _unescape(text):
    """Undoes Wine's debug-string escaping; returns (bytes, truncated)."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            if n in _ESCAPES:
                out.append(_ESCAPES[n])
                i += 2
                continue
        out.append(ord(c) & 0xFF)
        i += 1
    return bytes(out)


def _split_args(text):
    """Splits a relay argument list at commas outside quoted strings."""
    args, current, quoted, i = [], [], False, 0
    while i < len(text):
        c = text[i]
        if quoted and c == "\\":
            current.append(text[i:i + 2])
            i += 2
            continue
        if c == '"':
            quoted = not quoted
        if c == "," and not quoted:
            args.append("".join(current))
            current = []
        else:
            current.append(c)
        i += 1
    if current or args:
        args.append("".join(current))
    return args


class CutText(bytes):
    """A string argument that the relay trace shows only in part."""


def relay_text_shown(traced, whole):
    """How the relay trace showed a string argument whose text is `whole`:
    "whole", "cut" (its first part), or what it showed instead."""
    if isinstance(traced, CutText):
        return "cut" if whole.startswith(traced) else traced
    return "whole" if traced == whole else traced


def _parse_arg(text):
    m = re.match(r'^([0-9a-fA-F]+) "(.*)"(\.\.\.)?$', text, re.S)
    if m:
        return (CutText if m.group(3) else bytes)(_unescape(m.group(2)))
    m = re.match(r"^([0-9a-fA-F]+)", text)
    return int(m.group(1), 16) if m else text


_CALL = re.compile(r"^([0-9a-f]{4}):Call ([A-Za-z0-9_]+)\.([A-Za-z0-9_]+)\((.*)\) ret=([0-9a-f]{8})$", re.S)
_RET = re.compile(r"^([0-9a-f]{4}):Ret  ([A-Za-z0-9_]+)\.([A-Za-z0-9_]+)\(\) retval=([0-9a-f]{8}) ret=([0-9a-f]{8})$")


_thread_lines_cache = {}


def _thread_lines(stderr, tid):
    """The trace lines of one thread; a batch's trace is split only once."""
    key = id(stderr)
    if key not in _thread_lines_cache:
        _thread_lines_cache.clear()
        by_thread = collections.defaultdict(list)
        for line in stderr.split("\n"):
            by_thread[line[:4]].append(line)
        _thread_lines_cache[key] = (stderr, by_thread)
    return _thread_lines_cache[key][1].get(tid, [])


def parse_relay(stderr, thread_id, exe_name, size):
    """The calls that the module exe_name itself made, on thread thread_id."""
    tid = "%04x" % thread_id
    base = None
    load = re.compile(r'^%s:trace:loaddll:\w+ Loaded L"(.*)" at ([0-9A-Fa-f]{8}): native' % tid)
    calls, pending = [], []
    for line in _thread_lines(stderr, tid):
        if base is None:
            m = load.match(line)
            if m and m.group(1).replace("\\\\", "\\").lower().endswith("\\" + exe_name.lower()):
                base = int(m.group(2), 16)
            continue
        m = _CALL.match(line)
        if m:
            ret = int(m.group(5), 16)
            if base <= ret < base + size:
                call = Call(m.group(2).lower(), m.group(3),
                            [_parse_arg(a) for a in _split_args(m.group(4))], None)
                calls.append(call)
                pending.append((len(calls) - 1, m.group(3), ret))
            continue
        m = _RET.match(line)
        if m and pending:
            index, function, ret = pending[-1]
            if function == m.group(3) and ret == int(m.group(5), 16):
                calls[index] = calls[index]._replace(retval=int(m.group(4), 16))
                pending.pop()
    return calls


def session_environment(prefix):
    env = dict(os.environ)
    # A fixed locale gives a fixed ANSI code page, through which
    # CreateProcessA and GetCommandLineA pass the command line bytes: Wine
    # takes C.UTF-8, which every Debian machine has, for US English and code
    # page 1252 (the splitter table's high-byte rows show that the bytes
    # arrive unchanged). No winemenubuilder: each new session starts it in
    # the background, it writes menu entries into the host's home, and one
    # still starting when the session is ended waits forever for a server
    # that is gone.
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", LC_ALL="C.UTF-8",
               WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
    env.pop("WINELOADER", None)
    env.pop(TEMPLATE_VARIABLE, None)
    return env


def run_wine(args, env, timeout, keep_stderr=True):
    """Runs `wine ARGS` as a session of its own: returns its exit code and
    its output once the session has ended (see await_session_end)."""
    # Output goes to a file, not a pipe: processes that Wine starts in the
    # background inherit the handles and would hold a pipe open.
    with tempfile.TemporaryFile() as output:
        result = subprocess.run(["wine"] + args, env=env, timeout=timeout, stdout=output,
                                stderr=output if keep_stderr else subprocess.DEVNULL)
        output.seek(0)
        text = output.read()
    await_session_end_or_fail(env["WINEPREFIX"], "after wine %s" % " ".join(args)[:200])
    return result.returncode, text


def wine(args, env, timeout):
    """Runs `wine ARGS` to its end; raises WineError unless it exits with 0."""
    status, output = run_wine(args, env, timeout)
    if status != 0:
        raise WineError("wine %s failed: %s" % (args, output.decode(errors="replace")[-2000:]))


def prefix_processes(prefix):
    """'PID COMMAND' of every process that runs for the prefix.

    Wine passes WINEPREFIX on to every process it starts, the server and
    the emulator included, so the environment tells them apart from those
    of other prefixes. A process that has ended but not been reaped has no
    environment left and is not listed.
    """
    wanted = ("WINEPREFIX=" + prefix).encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        if int(pid) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if wanted not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode("latin-1").strip()
        except OSError:
            continue  # ended meanwhile
        found.append("%s %s" % (pid, command))
    return found


def _wait_for_no_processes(prefix, seconds):
    deadline = time.time() + seconds
    while prefix_processes(prefix) and time.time() < deadline:
        time.sleep(0.2)
    return prefix_processes(prefix)


def _kill(processes):
    for process in processes:
        try:
            os.kill(int(process.split()[0]), signal.SIGKILL)
        except ProcessLookupError:
            pass


def await_session_end(prefix):
    """Waits until the prefix's Wine session has ended by itself: its
    wineserver gone, and every process of the session with it. Returns the
    processes still there after SESSION_END_SECONDS, which have then been
    ended: each is a fault of whatever left it running.

    Every session here is started by one program and ends when it does:
    the server, which runs without persistence, tells Wine's own background
    processes to end once no program is left, and exits after them. Nothing
    may start in the meantime: the server would take a program that
    connects while it is ending into a session whose services are going
    away, and then end it too. So the next program starts only once this
    has returned. This covers a forced ExitWindowsEx as well: Wine's
    wineboot ends every program, and the session ends once wineboot has.
    """
    if not os.path.isdir(prefix):
        return []
    env = dict(os.environ, WINEPREFIX=prefix)
    survivors = []
    try:
        subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=SESSION_END_SECONDS)
    except subprocess.TimeoutExpired:
        survivors = ["(the session did not end within %d s; still running: %s)"
                     % (SESSION_END_SECONDS, "; ".join(prefix_processes(prefix)))]
        end_session(prefix)
    left = _wait_for_no_processes(prefix, SESSION_END_SECONDS)
    _kill(left)
    return survivors + left


def await_session_end_or_fail(prefix, when):
    survivors = await_session_end(prefix)
    if survivors:
        raise WineError("%s, these processes of %s were still running: %s"
                        % (when, prefix, "; ".join(survivors)))


def end_session(prefix):
    """Ends the prefix's session at once, whatever runs in it, and waits
    until none of its processes is left. Returns those that outlived the
    wait, which have then been killed. For a session that a failed test or
    an earlier run left behind; a session that ends as it should ends by
    itself (await_session_end)."""
    if not os.path.isdir(prefix):
        return []
    env = dict(os.environ, WINEPREFIX=prefix)
    for flag in ("-k", "-w"):
        subprocess.run(["wineserver", flag], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=SESSION_END_SECONDS)
    left = _wait_for_no_processes(prefix, SESSION_END_SECONDS)
    _kill(left)
    return left


FAMILY_WILD = 0xFFFF
COOKIE_BYTES = 16


def write_authority(path, cookie):
    """An X authority file whose one entry gives the cookie for any display.

    The X server takes every cookie of the file it is given with -auth, and
    a client reading it matches the wildcard entry to whatever display it
    opens, so one file serves both before the display's number is known.
    """
    def counted(data):
        return struct.pack(">H", len(data)) + data

    entry = (struct.pack(">H", FAMILY_WILD) + counted(b"") + counted(b"")
             + counted(b"MIT-MAGIC-COOKIE-1") + counted(cookie))
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as f:
        f.write(entry)


def make_prefix(env, directory):
    """Makes the prefix env names, with the settings every test relies on.

    Only the first start of Wine is retried, at most twice, each time in a
    new prefix: a failed first start under a user-mode emulator has been
    seen once, and every later check of the prefix would then fail.

    Wine makes the prefix itself as it starts the session's first program,
    running "wineboot --init" first. That program is not "wineboot -i",
    which would run a second init: its second services.exe keeps restarting
    the session's services, and ending the session then may catch one of
    them half started.
    """
    prefix = env["WINEPREFIX"]
    for attempt in range(1, FIRST_START_ATTEMPTS + 1):
        os.makedirs(prefix)
        try:
            # With Wine's own error messages on: a failure then says which
            # step of the start-up went wrong.
            wine(["cmd", "/c", "exit"], dict(env, WINEDEBUG="fixme-all"), FIRST_START_SECONDS)
            break
        except WineError as error:
            if attempt == FIRST_START_ATTEMPTS:
                raise
            print("the first Wine start failed (attempt %d of %d); retrying in a new prefix: %s"
                  % (attempt, FIRST_START_ATTEMPTS, str(error).strip().splitlines()[-1]),
                  file=sys.stderr, flush=True)
            for survivor in end_session(prefix):
                print("ended a process the failed start left: %s" % survivor, file=sys.stderr)
            shutil.rmtree(prefix)
    reg = os.path.join(directory, "settings.reg")
    with open(reg, "w", encoding="ascii") as f:
        f.write("REGEDIT4\n\n")
        f.write("[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n\"ShowCrashDialog\"=dword:00000000\n\n")
        f.write("[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n\"RelayInclude\"=\"%s\"\n\n"
                % ";".join(TRACED_FUNCTIONS))
        # wineboot starts the menu builder as each session begins, and again
        # after a forced ExitWindowsEx, without waiting for it.
        f.write("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices]\n"
                "\"winemenubuilder\"=-\n\n")
    wine(["reg", "import", windows_path(reg), "/reg:64"], env, 120)


def make_template(directory):
    """Makes the prefix that every session of a test run copies."""
    started = time.time()
    session = WineSession("template", directory=directory)
    os.environ.pop(TEMPLATE_VARIABLE, None)
    try:
        session.start()
    finally:
        # The server writes the registry into the prefix as it ends.
        session.close()
    with open(os.path.join(session.prefix, "user.reg"), encoding="latin-1") as f:
        if "RelayInclude" not in f.read():
            raise WineError("the prefix's registry was not saved")
    open(os.path.join(directory, TEMPLATE_READY), "w").close()
    print("prefix template made in %.1f s: %s" % (time.time() - started, session.prefix))


class WineSession:
    def __init__(self, name, launcher=None, display=True, directory=None):
        self.name = name
        self.launcher = launcher or os.environ.get("CORVANE_LAUNCHER", DEFAULT_LAUNCHER)
        self.directory = directory or os.path.join(REPO_ROOT, "build", "e2e", name)
        self.prefix = os.path.join(self.directory, "prefix")
        self.use_display = display
        self.xvfb = None
        self.runs = 0
        self.from_template = False

    # -- set-up and tear-down -------------------------------------------------

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def start(self):
        if os.path.exists(self.directory):
            for survivor in end_session(self.prefix):
                print("ended a process an earlier run left: %s" % survivor, file=sys.stderr)
            shutil.rmtree(self.directory)
        os.makedirs(self.directory)
        self.env = session_environment(self.prefix)
        if self.use_display:
            self._start_xvfb()
        else:
            self.env.pop("DISPLAY", None)
        template = os.environ.get(TEMPLATE_VARIABLE)
        self.from_template = bool(template)
        if template:
            if not os.path.exists(os.path.join(template, TEMPLATE_READY)):
                raise WineError("no finished prefix template in %s" % template)
            # Symbolic links (the drive letters) stay links; times are kept,
            # so Wine finds the copy up to date and does not update it.
            subprocess.run(["cp", "-a", os.path.join(template, "prefix"), self.prefix],
                           check=True)
            # Debian's Wine notes in this file which temporary folder holds
            # the prefix's server socket; each copy gets a folder of its own.
            note = os.path.join(self.prefix, SERVER_FOLDER_NOTE)
            if os.path.exists(note):
                os.remove(note)
        else:
            make_prefix(self.env, self.directory)

    def _start_xvfb(self):
        # Only this account may use the display, which shows and takes keys
        # for the session: a fresh cookie, in a folder only it can read.
        folder = os.path.join(self.directory, "x11")
        os.mkdir(folder, 0o700)
        authority = os.path.join(folder, "Xauthority")
        write_authority(authority, secrets.token_bytes(COOKIE_BYTES))
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-auth", authority, "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.time() + 30
        while not number.endswith(b"\n") and time.time() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            raise WineError("Xvfb did not report a display")
        self.env["DISPLAY"] = ":" + number.decode().strip()
        self.env["XAUTHORITY"] = authority

    def close(self):
        """Removes the prefix copy and the display; fails, naming them, if
        processes of the prefix are still running. Each session here has
        ended by the time its program has (see _launch), unless a test gave
        up on it."""
        survivors = await_session_end(self.prefix)
        # A copy of the template is 1.3 GB, and another run makes it again
        # in a second.
        if self.from_template and os.path.isdir(self.prefix):
            shutil.rmtree(self.prefix)
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None
        if survivors:
            raise WineError("as the session ended, these processes of %s were still running: %s"
                            % (self.prefix, "; ".join(survivors)))

    # -- running programs -----------------------------------------------------

    def run(self, exe, command_line, trace=True, timeout=120, leave_boxes=False):
        """Starts exe with command_line (bytes, exactly) and waits for it."""
        cmd_file = self._scratch_file(command_line)
        args = [windows_path(cmd_file), windows_path(exe)]
        if leave_boxes:
            args.append("--leave-boxes")
        out, stderr = self._launch(args, trace, timeout, command_line[:80])
        os.remove(cmd_file)
        return self._result(exe, out.splitlines(), stderr, trace)

    def run_many(self, exe, command_lines, trace=True, timeout_each=60):
        """Like run() for each command line, with one launcher for them all."""
        results = [None] * len(command_lines)
        start = 0
        while start < len(command_lines):
            batch = command_lines[start:]
            list_file = self._scratch_file(b"".join(struct.pack("<I", len(c)) + c for c in batch))
            out, stderr = self._launch(["--batch", windows_path(list_file), windows_path(exe)],
                                       trace, timeout_each * len(batch), "batch")
            os.remove(list_file)
            cases, current = {}, None
            for line in out.splitlines():
                if line.startswith("case "):
                    current = cases.setdefault(int(line.split()[1]), [])
                elif current is not None:
                    current.append(line)
            done = 0
            for index in sorted(cases):
                if not any(l.startswith("child ") for l in cases[index]):
                    break  # the launcher was ended before it started this one
                result = self._result(exe, cases[index], stderr, trace)
                results[start + index] = result
                done = index + 1
                if result.exit_code is None or ends_session(result):
                    break
            if done == 0:
                raise WineError("launcher ran nothing; stderr: %s" % stderr[-2000:])
            start += done
        return results

    def run_with_stand_in(self, exe, command_line, fault, slot_rva, trace=False, timeout=120):
        """Like run(), with the import slot at slot_rva pointed at the
        launcher's stand-in that faults as `fault` says (tools/launch.c)."""
        cmd_file = self._scratch_file(command_line)
        out, stderr = self._launch(["--fault", fault, "%x" % slot_rva, windows_path(cmd_file),
                                    windows_path(exe)], trace, timeout, command_line[:80])
        os.remove(cmd_file)
        return self._result(exe, out.splitlines(), stderr, trace)

    def _scratch_file(self, data):
        self.runs += 1
        path = os.path.join(self.directory, "input-%d.bin" % self.runs)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def _launch(self, launcher_args, trace, timeout, what):
        """Runs the launcher as a session of its own; returns its output and
        Wine's trace once that session has ended. A forced ExitWindowsEx
        ends it early, the launcher included: the cases after it in a batch
        then start in a new session."""
        env = dict(self.env)
        if trace:
            env["WINEDEBUG"] = "-all,+relay,+loaddll"
        with tempfile.TemporaryFile() as err, tempfile.TemporaryFile() as out_file:
            process = subprocess.Popen(["wine", self.launcher] + launcher_args, env=env,
                                       stdout=out_file, stderr=err, start_new_session=True)
            try:
                process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
                raise WineError("%r did not finish within %d s" % (what, timeout))
            await_session_end_or_fail(self.prefix, "as the session of %r ended" % (what,))
            out_file.seek(0)
            err.seek(0)
            return out_file.read().decode("ascii", "replace"), err.read().decode("latin-1")

    def _result(self, exe, lines, stderr, traced):
        thread_id = exit_code = stand_in = None
        boxes = []
        for line in lines:
            fields = line.split()
            if fields[:1] == ["stand-in"]:
                stand_in = (int(fields[1], 16), int(fields[2], 16))
            elif fields[:1] == ["child"]:
                thread_id = int(fields[2])
            elif fields[:1] == ["box"]:
                decode = lambda h: b"" if h == "-" else bytes.fromhex(h)
                boxes.append(Box(decode(fields[1]), decode(fields[2]), fields[3] == "1"))
            elif fields[:1] == ["exit"]:
                exit_code = int(fields[1])
            elif fields[:1] == ["launch-error"]:
                raise WineError("CreateProcessA failed with error %s" % fields[1])
            elif fields[:1] == ["straggler"]:
                name = b"" if fields[2] == "-" else bytes.fromhex(fields[2])
                raise WineError("process %s (%s), started by %s, still ran %d s after it ended"
                                % (fields[1], name.decode("latin-1"), os.path.basename(exe),
                                   LAUNCHER_SETTLE_SECONDS))
        if thread_id is None:
            raise WineError("launcher did not start the program; output: %r stderr: %s"
                            % (lines, stderr[-2000:]))
        # exit_code stays None when something ended the launcher first: under
        # Wine a forced ExitWindowsEx ends every process of the prefix.
        calls = []
        if traced:
            calls = parse_relay(stderr, thread_id, os.path.basename(exe), image_size(exe))
            if not calls:
                # Every run calls SetUnhandledExceptionFilter first.
                raise WineError(known.changed(known.RELAY_FORMAT, "no call of %s in the trace"
                                              % os.path.basename(exe)))
        return RunResult(exit_code, boxes, calls, stderr, stand_in)


class CountingResult(unittest.TextTestResult):
    """Counts each table row (subtest) as a case of its own."""

    passed = failed = 0

    def addSubTest(self, test, subtest, outcome):
        super().addSubTest(test, subtest, outcome)
        if outcome is None:
            CountingResult.passed += 1
        else:
            CountingResult.failed += 1

    def addSuccess(self, test):
        super().addSuccess(test)
        CountingResult.passed += 1


def run_tests(argv, label):
    """Runs the calling module's unittest cases; prints and returns success."""
    runner = unittest.TextTestRunner(verbosity=2, resultclass=CountingResult)
    program = unittest.main(module="__main__", argv=argv, exit=False, testRunner=runner)
    result = program.result
    failed = max(CountingResult.failed, len(result.failures) + len(result.errors))
    print("%s: %d passed, %d failed" % (label, CountingResult.passed, failed))
    return result.wasSuccessful()


if __name__ == "__main__":
    import argparse
    parser = argparse.ArgumentParser(description="Makes the prefix template the e2e tests copy.")
    parser.add_argument("--make-template", metavar="DIR", required=True)
    make_template(parser.parse_args().make_template)
