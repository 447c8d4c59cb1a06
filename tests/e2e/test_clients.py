"""The download as Windows tools meet it: a resource editor, the readme's
signing commands with a key in a PKCS#11 token, an inventory tool reading
the version, the loader reading the manifest, and Task Scheduler
registering the shipped task.

    python3 test_clients.py --exe build/win32/corvane.exe --client resource_client.exe
        --task-client task_client.exe --task-store task_store.exe --zip corvane-V-win32.zip
        --version 1.0.0 --license LICENSE --readme README.md [--launcher ...]

Copies edited by the resource-update API or signed with a throw-away
certificate must behave exactly as the original.
"""

import argparse
import fcntl
import os
import random
import re
import select
import shlex
import shutil
import subprocess
import sys
import termios
import time
import unittest
import zipfile
from xml.etree import ElementTree

import pefile

import known_differences as known
import prediction
import tasks
from winetest import WineSession, await_session_end_or_fail, run_tests, run_wine, windows_path

EXE = CLIENT = TASK_CLIENT = TASK_STORE = ZIP = VERSION = COPYRIGHT = README = None
wine = None

RT_RCDATA = 10
ADDED_RESOURCE_ID = 700
# A few runs through every path of the program; no forced action, which
# would end the Wine session (known.FORCED_END_ENDS_LAUNCHER).
COMMAND_LINES = [b"Corvane ?", b"Corvane /h", b"Corvane 0", b"Corvane 1", b"Corvane 34",
                 b"Corvane 16", b"Corvane x"]
LANG_US_ENGLISH, CODEPAGE_UNICODE = 0x409, 0x4B0
VOS_NT_WINDOWS32, VFT_APP = 0x40004, 1
INSTALLER_WORDS = ("install", "setup", "update", "patch")
TASK_MEMBER, TASK_NAME = "corvane-task.xml", "Corvane"
INTERACTIVE_SID = "S-1-5-4"
PRINCIPAL_ID = "Author"
# In quotes, so that the path stays one word on the command line.
COMMAND = r'"C:\Program Files\Corvane\corvane.exe"'
SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN, TOKEN_KEY = "corvane-test", "signer"
HARMLESS_ARGUMENT = "0"  # lock
E_NOTIMPL = "error 80004001"


def wine_command(args):
    """Runs a Windows program to its end; returns its exit code and output lines."""
    status, out = run_wine(args, wine.env, 120, keep_stderr=False)
    return status, out.decode("ascii", "replace").splitlines()


def client(*args):
    """Runs the resource client; returns its output lines."""
    status, out = wine_command([CLIENT] + list(args))
    if status != 0:
        raise AssertionError("resource_client %s failed: %s" % (" ".join(args), out))
    return out


def version_info(image):
    """{"fixed": [...], "translation": [...], NAME: text} read through Wine."""
    info = {}
    for line in client("version", windows_path(image)):
        kind, *fields = line.split()
        if kind == "string":
            info[fields[0]] = "" if fields[1] == "-" else bytes.fromhex(fields[1]).decode("cp1252")
        else:
            info[kind] = [int(f, 16) for f in fields]
    return info


def readme_command(start, replacements):
    """The readme's command that begins with start, its continued lines
    joined, with each word in replacements replaced (None: left out). Every
    replaced word must be there, so that the readme's form is what runs."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    found = re.search(r"^    (%s\b(?:.*\\\n)*.*)$" % re.escape(start), text, re.M)
    if not found:
        raise AssertionError("no %r command in the readme" % start)
    words = shlex.split(found.group(1).replace("\\\n", " "))
    missing = set(replacements) - set(words)
    if missing:
        raise AssertionError("the readme's %r has no %s" % (start, sorted(missing)))
    return [replacements.get(w, w) for w in words if replacements.get(w, w) is not None]


def answer_pin_prompt(command, pin, env):
    """Runs command on a terminal of its own and types pin at its PIN
    prompt, as a signer at the keyboard would; returns (exit code, output)."""
    controller, terminal = os.openpty()

    def own_terminal():
        os.setsid()
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    process = subprocess.Popen(command, env=env, stdin=terminal, stdout=terminal,
                               stderr=terminal, preexec_fn=own_terminal)
    os.close(terminal)
    output, answered, deadline = b"", False, time.time() + 120
    while time.time() < deadline:
        if select.select([controller], [], [], 1)[0]:
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the terminal closed: the command has ended
                break
            output += chunk
            if not answered and b"PIN" in output:
                os.write(controller, pin.encode() + b"\n")
                answered = True
        elif process.poll() is not None:
            break
    else:
        process.kill()
    os.close(controller)
    return process.wait(), output.decode("ascii", "replace").replace(pin, "<PIN>")


def behaviour(result):
    """What a run did: its calls (names; arguments of the dispatch calls),
    boxes and exit code."""
    return ([c.function for c in result.calls],
            [(c.function, c.args) for c in result.calls if c.function in prediction.DISPATCH_FUNCTIONS],
            result.boxes, result.exit_code)


class CopyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = os.path.join(wine.directory, "copies")
        os.makedirs(cls.folder, exist_ok=True)
        with open(EXE, "rb") as f:
            cls.original = f.read()
        cls.expected = [behaviour(r) for r in wine.run_many(EXE, COMMAND_LINES)]

    def image_path(self, name):
        # Each copy keeps the file name, so that the runs can be compared.
        path = os.path.join(self.folder, name, "corvane.exe")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        return path

    def assert_behaves_as_original(self, image):
        for index, result in enumerate(wine.run_many(image, COMMAND_LINES)):
            with self.subTest(row=index, line=COMMAND_LINES[index]):
                self.assertEqual(behaviour(result), self.expected[index])

    def test_resource_update_keeps_the_program_working(self):
        edited = self.image_path("edited")
        shutil.copyfile(EXE, edited)
        self.assertEqual(client("add", windows_path(edited)), ["added"])
        pe = pefile.PE(edited)
        imports = sum(len(d.imports) for d in pe.DIRECTORY_ENTRY_IMPORT)
        self.assertEqual(imports, 15)
        types = {t.id: [n.id for n in t.directory.entries] for t in pe.DIRECTORY_ENTRY_RESOURCE.entries}
        self.assertEqual(types.get(RT_RCDATA), [ADDED_RESOURCE_ID])
        self.assertEqual(version_info(edited), version_info(EXE))
        self.assert_behaves_as_original(edited)

    def test_token_signed_copy_verifies_runs_and_unsigns_to_the_original(self):
        # A software PKCS#11 token, made afresh: its key exists only there.
        folder = os.path.join(self.folder, "signing")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(os.path.join(folder, "tokens"))
        key, certificate = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
        signed, unsigned = self.image_path("signed"), os.path.join(folder, "unsigned.exe")
        for path in (signed, unsigned):
            if os.path.exists(path):
                os.remove(path)  # osslsigncode will not write over a file
        pin, so_pin = ("%06d" % random.SystemRandom().randrange(10 ** 6) for _ in range(2))
        env = dict(os.environ, SOFTHSM2_CONF=os.path.join(folder, "softhsm2.conf"))
        with open(env["SOFTHSM2_CONF"], "w") as f:
            f.write("directories.tokendir = %s\nobjectstore.backend = file\n"
                    % os.path.join(folder, "tokens"))
        steps = [["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                  "-subj", "/CN=Corvane test signer", "-keyout", key, "-out", certificate,
                  "-addext", "extendedKeyUsage=codeSigning", "-addext", "keyUsage=digitalSignature"],
                 ["softhsm2-util", "--init-token", "--free", "--label", TOKEN,
                  "--pin", pin, "--so-pin", so_pin],
                 ["softhsm2-util", "--import", key, "--token", TOKEN, "--label", TOKEN_KEY,
                  "--id", "01", "--pin", pin]]
        for step in steps:
            result = subprocess.run(step, env=env, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, "%s: %s" % (step[:2], result.stderr[-2000:]))
        os.remove(key)
        # The readme's commands, with the token's names put in. The
        # timestamp needs the publisher's service, so it is left out here.
        sign = readme_command("osslsigncode sign", {
            "/path/to/token-pkcs11.so": SOFTHSM_MODULE, "publisher.crt": certificate,
            "pkcs11:token=...;object=...": "pkcs11:token=%s;object=%s" % (TOKEN, TOKEN_KEY),
            "-ts": None, "TIMESTAMP-URL": None, "build/win32/corvane.exe": EXE,
            "corvane-signed.exe": signed})
        status, out = answer_pin_prompt(sign, pin, env)
        self.assertEqual(status, 0, out)
        verify = readme_command("osslsigncode verify", {"corvane-signed.exe": signed})
        result = subprocess.run(verify + ["-CAfile", certificate], capture_output=True, text=True)
        print("\n".join(l for l in result.stdout.splitlines() if "verif" in l.lower() or
                        l.startswith("Succeeded")), file=sys.stderr)
        self.assertEqual(result.returncode, 0, result.stdout[-2000:] + result.stderr[-2000:])
        self.assertIn("Signature verification: ok", result.stdout)
        remove = readme_command("osslsigncode remove-signature",
                                {"corvane-signed.exe": signed, "unsigned.exe": unsigned})
        result = subprocess.run(remove, capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        with open(signed, "rb") as f:
            self.assertGreater(len(f.read()), len(self.original))
        with open(unsigned, "rb") as f:
            self.assertEqual(f.read(), self.original, "removing the signature gives the original")
        self.assert_behaves_as_original(signed)


class TaskDefinitionTest(unittest.TestCase):
    def test_shipped_task_registers_and_reads_back(self):
        with zipfile.ZipFile(ZIP) as archive:
            data = archive.read(TASK_MEMBER)
        text = tasks.task_text(data)
        status, out = tasks.schtasks_create(wine, TASK_NAME, text)
        self.assertEqual(status, 0, out)
        status, out = wine_command([TASK_CLIENT, TASK_NAME])
        self.assertEqual(status, 0, out)
        read = dict(line.split(" ", 1) for line in out)
        settings = {"registered": "1", "settings.disallow-start-on-batteries": "0",
                    "settings.stop-going-on-batteries": "0", "settings.time-limit": "PT5M",
                    "settings.start-on-demand": "-1", "settings.enabled": "-1"}
        self.assertEqual({k: read.get(k) for k in settings}, settings)
        # What Windows would read from the file; Wine 8 answers none of it.
        rest = {"principal.group": INTERACTIVE_SID, "principal.runlevel": "0",  # LUA
                "triggers": "0", "actions": "1", "action.type": "0",  # exec
                "action.path": COMMAND, "action.arguments": HARMLESS_ARGUMENT}
        for key in rest:
            with self.subTest(key=key):
                known.check(self, known.TASK_SCHEDULER_DROPS_PRINCIPAL, read.get(key, E_NOTIMPL))
        # What the service stored, read back through its own call.
        task = tasks.stored_task(wine, TASK_STORE, TASK_NAME + " stored", text)
        self.assertEqual(tasks.shape(task), tasks.shape(ElementTree.fromstring(data)))

        def children(path):
            return [(e.tag.split("}")[1], e.text) for e in task.find(path, tasks.NAMESPACE)]

        self.assertEqual(children("t:Principals/t:Principal"),
                         [("GroupId", INTERACTIVE_SID), ("RunLevel", "LeastPrivilege")])
        self.assertIsNone(task.find("t:Triggers", tasks.NAMESPACE))
        self.assertEqual(tasks.exec_action(task), (COMMAND, HARMLESS_ARGUMENT))
        # The one principal carries an id, and the actions name it as the
        # context they run in; a validator that keys principals by id
        # rejects a principal without one.
        principals = task.findall("t:Principals/t:Principal", tasks.NAMESPACE)
        self.assertEqual([p.get("id") for p in principals], [PRINCIPAL_ID])
        self.assertEqual(task.find("t:Actions", tasks.NAMESPACE).get("Context"), PRINCIPAL_ID)


class VersionTest(unittest.TestCase):
    def test_strings_through_the_version_api(self):
        info = version_info(EXE)
        major, minor, patch = map(int, VERSION.split("."))
        self.assertEqual(info["fixed"], [major << 16 | minor, patch << 16, major << 16 | minor,
                                         patch << 16, 0, VOS_NT_WINDOWS32, VFT_APP])
        self.assertEqual(info["translation"], [LANG_US_ENGLISH, CODEPAGE_UNICODE])
        self.assertTrue(info["FileDescription"])
        expected = {"FileVersion": VERSION, "ProductName": "Corvane", "ProductVersion": VERSION,
                    "LegalCopyright": COPYRIGHT, "OriginalFilename": "corvane.exe"}
        self.assertEqual({k: info[k] for k in expected}, expected)
        # Windows' installer detection would ask for elevation.
        for name, text in info.items():
            if isinstance(text, str):
                with self.subTest(string=name):
                    self.assertFalse([w for w in INSTALLER_WORDS if w in text.lower()], text)


class ManifestTest(unittest.TestCase):
    def test_loader_reads_the_manifest_without_error(self):
        env = dict(wine.env, WINEDEBUG="+actctx")
        result = subprocess.run(["wine", EXE, "0"], env=env, capture_output=True, timeout=120)
        await_session_end_or_fail(wine.prefix, "after corvane.exe 0")
        trace = result.stderr.decode("latin-1")
        self.assertEqual([l for l in trace.splitlines() if re.match(r"^\w+:(err|warn|fixme):actctx", l)], [])
        # The lines of the thread that made the program's context, from
        # where the loader finds its manifest.
        found = re.search(r"^(\w+):trace:actctx:get_manifest_in_module looking for res #0001 "
                          r"in module \w+ L\".*\\\\corvane\.exe\"$", trace, re.M)
        self.assertIsNotNone(found, "the loader did not look for the manifest")
        thread = found.group(1) + ":"
        lines = [l for l in trace[found.start():].splitlines() if l.startswith(thread)][:12]
        text = "\n".join(lines)
        for expected in ('parse_settings_elem got L"dpiAware" L"true"',
                         'parse_settings_elem got L"dpiAwareness" L"PerMonitorV2"',
                         'lookup_assembly looking for name=L"Microsoft.Windows.Common-Controls" '
                         'version=6.0.0.0 arch=L"x86"',
                         "loading manifest file L\"\\\\??\\\\C:\\\\windows\\\\winsxs\\\\manifests"
                         "\\\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6.0."):
            with self.subTest(line=expected):
                self.assertIn(expected, text)
        known.check(self, known.LOCK_REFUSED, result.returncode)


def main():
    global EXE, CLIENT, TASK_CLIENT, TASK_STORE, ZIP, VERSION, COPYRIGHT, README, wine
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--client", required=True)
    parser.add_argument("--task-client", required=True)
    parser.add_argument("--task-store", required=True)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--license", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("--launcher")
    options, rest = parser.parse_known_args()
    EXE, CLIENT, VERSION = os.path.abspath(options.exe), options.client, options.version
    TASK_CLIENT, TASK_STORE = options.task_client, options.task_store
    ZIP, README = options.zip, options.readme
    with open(options.license, encoding="ascii") as f:
        COPYRIGHT = next(l.strip() for l in f if l.startswith("Copyright "))
    with WineSession("clients", launcher=options.launcher) as session:
        wine = session
        success = run_tests([sys.argv[0]] + rest, "e2e client cases")
    sys.exit(0 if success else 1)


if __name__ == "__main__":
    main()
