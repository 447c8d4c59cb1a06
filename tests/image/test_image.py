#!/usr/bin/python3
"""Checks the built corvane.exe as a file: headers, sections, imports,
hardening, icons, manifest, size, the download zip, and that two clean
builds in other folders give the same bytes.

    test_image.py --exe corvane.exe --map corvane.map --zip corvane-V-win32.zip
                  --icons DIR --work DIR --source DIR [--reproduce]
                  [--generator G] [--build-type T] [--png FILE] [unittest args]

--map is the linker's map of the image; --icons is where the build wrote
the generated .ico files; --work is a
scratch folder. Only with --reproduce are the sources copied and built
twice more (under WORK). A run in which no test runs fails. Leaves FILE (default WORK/icons-4x.png): the three
icon images as the image holds them, at 4x zoom.
"""

import argparse
import glob
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest
import urllib.parse
import xml.etree.ElementTree as ElementTree
import zipfile

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "cases"))
import case_tables  # noqa: E402

ARGS = None

IMAGE_FILE_MACHINE_I386 = 0x14C
PE32_MAGIC = 0x10B
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
DLLCHARACTERISTICS_NX_COMPAT = 0x0100
DLLCHARACTERISTICS_NO_SEH = 0x0400
DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000
SCN_CNT_CODE = 0x00000020
SCN_CNT_INITIALIZED_DATA = 0x00000040
SCN_CNT_UNINITIALIZED_DATA = 0x00000080
SCN_MEM_DISCARDABLE = 0x02000000
SCN_MEM_EXECUTE = 0x20000000
SCN_MEM_READ = 0x40000000
SCN_MEM_WRITE = 0x80000000
REL_BASED_ABSOLUTE = 0
REL_BASED_HIGHLOW = 3
RT_ICON = 3
RT_GROUP_ICON = 14
RT_MANIFEST = 24
LANG_US_ENGLISH = 0x0409
LANG_NEUTRAL = 0

STACK_RESERVE = 0x2000000
STACK_COMMIT = 0x1000
FILE_BLOCK = 512
SIZE_BUDGET = 16384
GUIDE_LINES = {"README.txt": 160, "ADMIN.txt": 260}  # each guide stays short
QUICK_START_LINES = 45  # the quick start fits the first screen
SENTENCE_WORDS = (20, 40)  # the guides' sentences: at most on average, and at most
QUOTATIONS = 12  # quotations of five words or more, in both guides together
LEARN = "learn.microsoft.com"  # where every source of the guides is read

# The toolchain's usual layout, in order, and each section's permissions.
# GNU ld marks the resource section writable, as it always has; the loader
# and resource tools do not mind.
EXPECTED_SECTIONS = [
    (".text", SCN_CNT_CODE | SCN_MEM_EXECUTE | SCN_MEM_READ),
    (".data", SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ | SCN_MEM_WRITE),
    (".rdata", SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ),
    (".bss", SCN_CNT_UNINITIALIZED_DATA | SCN_MEM_READ | SCN_MEM_WRITE),
    (".idata", SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ | SCN_MEM_WRITE),
    (".rsrc", SCN_CNT_INITIALIZED_DATA | SCN_MEM_READ | SCN_MEM_WRITE),
    (".reloc", SCN_CNT_INITIALIZED_DATA | SCN_MEM_DISCARDABLE | SCN_MEM_READ),
]

EXPECTED_IMPORTS = {
    "user32.dll": {"LockWorkStation", "ExitWindowsEx", "MessageBoxA"},
    "advapi32.dll": {"OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges"},
    "kernel32.dll": {"SetSystemPowerState", "GetCommandLineA", "GetModuleFileNameA",
                     "GetStdHandle", "SetUnhandledExceptionFilter", "ExitProcess",
                     "GetFileType", "GlobalAlloc", "GlobalLock"},
}

# Icon group id -> (language, [(width, height), ...] in directory order).
EXPECTED_ICON_GROUPS = {
    500: (LANG_US_ENGLISH, [(32, 32), (16, 16)]),
    600: (LANG_NEUTRAL, [(32, 32)]),
}
ICON_BITS_PER_PIXEL = 8
PALETTE_ENTRIES = 256
BITMAPINFOHEADER = struct.Struct("<IiiHHIIiiII")
GROUP_HEADER = struct.Struct("<HHH")
GROUP_ENTRY = struct.Struct("<BBBBHHIH")
ICO_ENTRY = struct.Struct("<BBBBHHII")


def load_image(path):
    with open(path, "rb") as f:
        data = f.read()
    return data, pefile.PE(data=data)


def row_bytes(bits):
    return (bits + 31) // 32 * 4


def resource_entries(pe, type_id):
    """{id: {language: bytes}} for one resource type."""
    found = {}
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != type_id:
            continue
        for name_entry in type_entry.directory.entries:
            languages = found.setdefault(name_entry.id if name_entry.name is None
                                         else str(name_entry.name), {})
            for lang_entry in name_entry.directory.entries:
                data = lang_entry.data.struct
                languages[lang_entry.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


def icon_groups(pe):
    """{group id: [(language, kind, [(width, height, colours, planes, bits,
    icon id), ...]), ...]}, one tuple per language the group exists in."""
    groups = {}
    for group_id, languages in resource_entries(pe, RT_GROUP_ICON).items():
        for language, data in languages.items():
            _, kind, count = GROUP_HEADER.unpack_from(data)
            entries = []
            for i in range(count):
                w, h, colours, _, planes, bits, _, icon_id = GROUP_ENTRY.unpack_from(
                    data, GROUP_HEADER.size + i * GROUP_ENTRY.size)
                entries.append((w, h, colours, planes, bits, icon_id))
            groups.setdefault(group_id, []).append((language, kind, entries))
    return groups


def ico_images(path):
    """The images of an .ico file, in its order."""
    with open(path, "rb") as f:
        data = f.read()
    _, _, count = GROUP_HEADER.unpack_from(data)
    images = []
    for i in range(count):
        fields = ICO_ENTRY.unpack_from(data, GROUP_HEADER.size + i * ICO_ENTRY.size)
        size, offset = fields[6], fields[7]
        images.append(data[offset:offset + size])
    return images


def write_ico(path, images):
    """An .ico file of (width, height, image bytes)."""
    out = GROUP_HEADER.pack(0, 1, len(images))
    offset = GROUP_HEADER.size + ICO_ENTRY.size * len(images)
    for w, h, image in images:
        out += ICO_ENTRY.pack(w, h, 0, 0, 1, ICON_BITS_PER_PIXEL, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(image for _, _, image in images))


def section_name(section):
    return section.Name.rstrip(b"\0").decode("ascii", "replace")


def section_of_offset(pe, offset):
    for s in pe.sections:
        if s.PointerToRawData <= offset < s.PointerToRawData + s.SizeOfRawData:
            return section_name(s)
    return "headers" if offset < pe.OPTIONAL_HEADER.SizeOfHeaders else "after the sections"


class ImageTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data, cls.pe = load_image(ARGS.exe)


class HeaderTest(ImageTestCase):
    def test_machine_and_format(self):
        self.assertEqual(self.pe.FILE_HEADER.Machine, IMAGE_FILE_MACHINE_I386)
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, PE32_MAGIC)

    def test_subsystem_and_version(self):
        header = self.pe.OPTIONAL_HEADER
        self.assertEqual(header.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI)
        self.assertEqual((header.MajorSubsystemVersion, header.MinorSubsystemVersion), (4, 0))

    def test_stack(self):
        header = self.pe.OPTIONAL_HEADER
        self.assertEqual(header.SizeOfStackReserve, STACK_RESERVE)
        self.assertEqual(header.SizeOfStackCommit, STACK_COMMIT)

    def test_checksum_matches_file(self):
        # Signing tools keep the checksum up to date; a wrong one is flagged.
        self.assertTrue(self.pe.verify_checksum())


class SectionTest(ImageTestCase):
    def test_usual_sections_and_permissions(self):
        found = [(section_name(s), s.Characteristics) for s in self.pe.sections]
        self.assertEqual([(n, hex(c)) for n, c in found],
                         [(n, hex(c)) for n, c in EXPECTED_SECTIONS])

    def test_resource_section_holds_resources_only(self):
        # The resource-update API rebuilds this section from the resources
        # alone, and scanners compare the directory with the section.
        rsrc = next(s for s in self.pe.sections if section_name(s) == ".rsrc")
        start, end = rsrc.VirtualAddress, rsrc.VirtualAddress + rsrc.Misc_VirtualSize
        directories = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY
        for index, directory in enumerate(directories):
            if directory.Size and index != pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]:
                with self.subTest(directory=directory.name):
                    self.assertFalse(start <= directory.VirtualAddress < end)
        resources = directories[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]]
        self.assertEqual((resources.VirtualAddress, resources.Size), (start, rsrc.Misc_VirtualSize))
        self.assertEqual(rsrc.SizeOfRawData, -(-rsrc.Misc_VirtualSize // FILE_BLOCK) * FILE_BLOCK,
                         "nothing of the section is left to the loader to fill")
        for type_entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name_entry in type_entry.directory.entries:
                for lang_entry in name_entry.directory.entries:
                    data = lang_entry.data.struct
                    self.assertTrue(start <= data.OffsetToData and data.OffsetToData + data.Size <= end)


class ImportTest(ImageTestCase):
    def test_exact_import_list(self):
        found = {}
        for descriptor in self.pe.DIRECTORY_ENTRY_IMPORT:
            dll = descriptor.dll.decode().lower()
            self.assertNotIn(dll, found, "%s imported twice" % dll)
            names = []
            for imported in descriptor.imports:
                self.assertIsNotNone(imported.name, "%s: import by ordinal %s" % (dll, imported.ordinal))
                names.append(imported.name.decode())
            self.assertEqual(len(names), len(set(names)), "%s: a function imported twice" % dll)
            found[dll] = set(names)
        self.assertEqual(found, EXPECTED_IMPORTS)


class HardeningTest(ImageTestCase):
    def test_dll_characteristics(self):
        # Exactly these four: a stray flag changes how Windows loads the image.
        expected = (DLLCHARACTERISTICS_DYNAMIC_BASE | DLLCHARACTERISTICS_NX_COMPAT |
                    DLLCHARACTERISTICS_NO_SEH | DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        self.assertEqual(flags, expected, "0x%04x, not 0x%04x" % (flags, expected))

    def test_relocation_table_covers_absolute_addresses(self):
        self.assertFalse(self.pe.FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED)
        self.assertTrue(hasattr(self.pe, "DIRECTORY_ENTRY_BASERELOC"), "no relocation table")
        base = self.pe.OPTIONAL_HEADER.ImageBase
        end = base + self.pe.OPTIONAL_HEADER.SizeOfImage
        sites = 0
        for block in self.pe.DIRECTORY_ENTRY_BASERELOC:
            for entry in block.entries:
                if entry.type == REL_BASED_ABSOLUTE:
                    continue
                with self.subTest(rva=hex(entry.rva)):
                    self.assertEqual(entry.type, REL_BASED_HIGHLOW)
                    # Every relocated word holds an address inside the image.
                    value = self.pe.get_dword_at_rva(entry.rva)
                    self.assertTrue(base <= value < end, "0x%x at rva 0x%x" % (value, entry.rva))
                sites += 1
        self.assertGreater(sites, 0)

    def test_no_section_is_writable_and_executable(self):
        for s in self.pe.sections:
            with self.subTest(section=section_name(s)):
                self.assertNotEqual(s.Characteristics & (SCN_MEM_WRITE | SCN_MEM_EXECUTE),
                                    SCN_MEM_WRITE | SCN_MEM_EXECUTE)


def linker_map(path):
    """The symbols' addresses, and every input section placed in the image as
    (name, size, file), from a GNU ld map."""
    symbols, sections, pending = {}, [], None
    with open(path, encoding="latin-1") as f:
        lines = f.read().split("\nLinker script and memory map\n", 1)[1].splitlines()
    for line in lines:
        m = re.match(r"^ (\.\S+)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*))?$", line)
        if m:
            pending = m.group(1)
            if m.group(2):
                sections.append((pending, int(m.group(3), 16), m.group(4)))
                pending = None
            continue
        m = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m and pending:
            sections.append((pending, int(m.group(2), 16), m.group(3)))
        pending = None
        m = re.match(r"^\s+0x([0-9a-f]+)\s+(\S+) = \.$", line)
        if m:
            symbols[m.group(2)] = int(m.group(1), 16)
    return symbols, sections


class StartUpTest(ImageTestCase):
    """No start-up code runs constructors or initialisers before the entry
    point, so the image must need none."""

    INITIALISER_SECTIONS = re.compile(r"^\.(ctors?|dtors?|init_array|fini_array|CRT\$X|tls)")

    def test_no_static_constructors_or_initialisers(self):
        symbols, sections = linker_map(ARGS.map)
        found = ["%s (%d bytes) from %s" % s for s in sections
                 if self.INITIALISER_SECTIONS.match(s[0]) and s[1]]
        self.assertEqual(found, [])
        # Both lists as the linker writes them, each empty: -1, then the end.
        rva = symbols["___CTOR_LIST__"] - self.pe.OPTIONAL_HEADER.ImageBase
        self.assertEqual(symbols["___DTOR_LIST__"] - symbols["___CTOR_LIST__"], 8)
        self.assertEqual(struct.unpack("<4i", self.pe.get_data(rva, 16)), (-1, 0, -1, 0))


class IconTest(ImageTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.groups = icon_groups(cls.pe)
        cls.icons = resource_entries(cls.pe, RT_ICON)

    def test_groups_ids_and_languages(self):
        self.assertEqual(sorted(self.groups), sorted(EXPECTED_ICON_GROUPS))
        for group_id, (language, _) in EXPECTED_ICON_GROUPS.items():
            with self.subTest(group=group_id):
                self.assertEqual([g[0] for g in self.groups[group_id]], [language])

    def test_group_entries(self):
        for group_id, (language, sizes) in EXPECTED_ICON_GROUPS.items():
            with self.subTest(group=group_id):
                _, kind, entries = self.groups[group_id][0]
                self.assertEqual(kind, 1)
                self.assertEqual([(e[0], e[1]) for e in entries], sizes)
                for w, h, colours, planes, bits, icon_id in entries:
                    # A colour count of 0 means 256 or more.
                    self.assertEqual((colours, planes, bits), (0, 1, ICON_BITS_PER_PIXEL))
                    self.assertEqual(list(self.icons.get(icon_id, {})), [language],
                                     "icon %d: missing or in another language" % icon_id)

    def test_images_are_256_colour_bitmaps(self):
        for group_id, (language, _) in EXPECTED_ICON_GROUPS.items():
            for w, h, _, _, _, icon_id in self.groups[group_id][0][2]:
                with self.subTest(group=group_id, icon=icon_id):
                    image = self.icons[icon_id][language]
                    (size, width, height, planes, bits, compression, _, _, _, used,
                     _) = BITMAPINFOHEADER.unpack_from(image)
                    self.assertEqual((size, width, height, planes, bits, compression),
                                     (BITMAPINFOHEADER.size, w, 2 * h, 1, ICON_BITS_PER_PIXEL, 0))
                    self.assertIn(used, (0, PALETTE_ENTRIES))
                    expected = (BITMAPINFOHEADER.size + 4 * PALETTE_ENTRIES
                                + h * row_bytes(w * ICON_BITS_PER_PIXEL) + h * row_bytes(w))
                    self.assertEqual(len(image), expected)

    def test_images_are_the_generated_ones(self):
        for group_id, (language, _) in EXPECTED_ICON_GROUPS.items():
            with self.subTest(group=group_id):
                generated = ico_images(os.path.join(ARGS.icons, "corvane-%d.ico" % group_id))
                embedded = [self.icons[e[5]][language] for e in self.groups[group_id][0][2]]
                self.assertEqual(embedded, generated)

    def test_render_embedded_icons(self):
        """Leaves the PNG: each image as the image holds it, at 4x."""
        os.makedirs(ARGS.work, exist_ok=True)
        inputs = []
        for group_id, (language, _) in sorted(EXPECTED_ICON_GROUPS.items()):
            for index, (w, h, _, _, _, icon_id) in enumerate(self.groups[group_id][0][2]):
                path = os.path.join(ARGS.work, "embedded-%d-%d.ico" % (group_id, index))
                write_ico(path, [(w, h, self.icons[icon_id][language])])
                inputs += ["(", path, "-scale", "400%", ")"]
        command = (["convert"] + inputs + ["+repage", "-background", "#d8d8d8", "-gravity",
                   "center", "-extent", "144x144", "+repage", "+append", "-alpha", "remove",
                   ARGS.png])
        subprocess.run(command, check=True, capture_output=True)
        out = subprocess.run(["identify", "-format", "%w %h", ARGS.png], check=True,
                             capture_output=True, text=True).stdout.split()
        self.assertEqual(out, ["432", "144"])
        print("\nicons rendered to %s" % ARGS.png, file=sys.stderr)


ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
COMMON_CONTROLS = {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                   "version": "6.0.0.0", "processorArchitecture": "*",
                   "publicKeyToken": "6595b64144ccf1df", "language": "*"}


class ManifestTest(ImageTestCase):
    """Windows refuses to start a program whose manifest it cannot parse;
    Wine is more lenient, so the XML is checked strictly here."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.manifests = resource_entries(cls.pe, RT_MANIFEST)

    def root(self):
        (data,) = self.manifests[1].values()
        self.assertTrue(data.startswith(b'<?xml version="1.0" encoding="UTF-8"'))
        return ElementTree.fromstring(data)

    def one(self, root, path):
        found = root.findall(path)
        self.assertEqual(len(found), 1, path)
        return found[0]

    def test_one_manifest_with_the_program_id(self):
        self.assertEqual(list(self.manifests), [1])

    def test_assembly(self):
        root = self.root()
        self.assertEqual((root.tag, root.attrib), (ASM_V1 + "assembly", {"manifestVersion": "1.0"}))

    def test_runs_as_invoker(self):
        level = self.one(self.root(), ASM_V3 + "trustInfo/" + ASM_V3 + "security/" + ASM_V3
                         + "requestedPrivileges/" + ASM_V3 + "requestedExecutionLevel")
        self.assertEqual(level.attrib, {"level": "asInvoker", "uiAccess": "false"})

    def test_common_controls_6(self):
        identity = self.one(self.root(), ASM_V1 + "dependency/" + ASM_V1 + "dependentAssembly/"
                            + ASM_V1 + "assemblyIdentity")
        self.assertEqual(identity.attrib, COMMON_CONTROLS)

    def test_dpi_awareness(self):
        settings = ASM_V3 + "application/" + ASM_V3 + "windowsSettings/"
        root = self.root()
        self.assertEqual(self.one(root, settings + SETTINGS_2005 + "dpiAware").text, "true")
        self.assertEqual(self.one(root, settings + SETTINGS_2016 + "dpiAwareness").text,
                         "PerMonitorV2")

    def test_supported_os_from_windows_7_to_11(self):
        found = self.root().findall(COMPATIBILITY + "compatibility/" + COMPATIBILITY
                                    + "application/" + COMPATIBILITY + "supportedOS")
        ids = [e.attrib.get("Id") for e in found]
        self.assertEqual(sorted(ids), sorted(SUPPORTED_OS))


class SizeTest(ImageTestCase):
    def test_breakdown_and_budget(self):
        header = self.pe.OPTIONAL_HEADER
        rows = [("headers", header.SizeOfHeaders, header.SizeOfHeaders)]
        rows += [(section_name(s), s.Misc_VirtualSize, s.SizeOfRawData) for s in self.pe.sections]
        print("\n%-8s %8s %8s" % ("", "memory", "file"), file=sys.stderr)
        for name, memory, stored in rows:
            print("%-8s %8d %8d" % (name, memory, stored), file=sys.stderr)
        size = len(self.data)
        print("%-8s %8s %8d  (budget %d)" % ("total", "", size, SIZE_BUDGET), file=sys.stderr)
        self.assertEqual(header.FileAlignment, FILE_BLOCK)
        self.assertEqual(header.SizeOfHeaders % FILE_BLOCK, 0)
        self.assertEqual(size % FILE_BLOCK, 0)
        self.assertLessEqual(size, SIZE_BUDGET)


class ReleaseZipTest(ImageTestCase):
    MEMBERS = ["corvane.exe", "LICENSE.txt", "README.txt", "ADMIN.txt", "corvane-task.xml",
               "SHA256SUMS.txt"]
    TEXTS = ["LICENSE.txt", "README.txt", "ADMIN.txt", "SHA256SUMS.txt"]
    GUIDES = ["README.txt", "ADMIN.txt"]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        with zipfile.ZipFile(ARGS.zip) as archive:
            cls.names = archive.namelist()
            cls.files = {name: archive.read(name) for name in cls.names}

    def guide(self, name):
        return self.files[name].decode("ascii").replace("\r\n", "\n")

    def test_one_zip_with_the_six_members(self):
        folder = os.path.dirname(os.path.abspath(ARGS.zip))
        self.assertEqual(glob.glob(os.path.join(folder, "*.zip")), [os.path.abspath(ARGS.zip)])
        self.assertRegex(os.path.basename(ARGS.zip), r"^corvane-\d+\.\d+\.\d+-win32\.zip$")
        self.assertEqual(self.names, self.MEMBERS)

    def test_zip_sum_beside_it_checks(self):
        folder, name = os.path.split(os.path.abspath(ARGS.zip))
        with open(ARGS.zip + ".sha256", "rb") as f:
            self.assertRegex(f.read().decode("ascii"), r"\A[0-9a-f]{64}  %s\n\Z" % re.escape(name))
        result = subprocess.run(["sha256sum", "-c", name + ".sha256"], cwd=folder,
                                capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stdout), (0, name + ": OK\n"), result.stderr)

    def test_program_is_the_built_one(self):
        self.assertEqual(self.files["corvane.exe"], self.data)

    def test_sums_cover_the_other_members(self):
        lines = self.files["SHA256SUMS.txt"].decode("ascii").split("\r\n")
        self.assertEqual(lines[-1], "")
        sums = dict(reversed(line.split("  ")) for line in lines[:-1])
        self.assertEqual(sorted(sums), sorted(self.MEMBERS[:-1]))
        for name, digest in sums.items():
            with self.subTest(member=name):
                self.assertEqual(hashlib.sha256(self.files[name]).hexdigest(), digest)

    def test_texts_are_plain_ascii_with_crlf(self):
        for name in self.TEXTS:
            with self.subTest(member=name):
                text = self.files[name]
                self.assertTrue(text.endswith(b"\r\n"))
                self.assertEqual(text.count(b"\n"), text.count(b"\r\n"), "a bare LF or CR")
                self.assertTrue(all(32 <= c < 127 or c in b"\r\n" for c in text))

    def test_guides_cover_what_their_readers_need(self):
        zip_name = os.path.basename(ARGS.zip)
        needs = {
            "README.txt": ["Tested on Wine 8", "ADMIN.txt", "16 shut down and power off",
                           "Add 32 to force", "Exit codes", "still acts and exits 0",
                           zip_name + ".sha256", "Unblock-File", "Expand-Archive", "SHA256SUMS.txt",
                           r"C:\Program Files\Corvane", r"%LOCALAPPDATA%\Programs\Corvane", "/reset",
                           "/setowner", "/?, -?, H, h", "Uninstalling", "Sources", "MIT License"],
            "ADMIN.txt": ["pcs.txt", "Enable-PSRemoting", "New-CimSession", "-Credential",
                          "Register-ScheduledTask", "<Arguments>?</Arguments>", "267009", "0x41303",
                          "query user", "CalendarTrigger", "Modern Standby", "SecurityDescriptor",
                          "Group Policy", "ERROR_NOT_READY", "-Confirm:$false", "Sources"],
        }
        for name, texts in needs.items():
            guide = self.guide(name)
            words = " ".join(guide.lower().split())
            for text in texts:
                with self.subTest(guide=name, text=text):
                    self.assertIn(" ".join(text.lower().split()), words)
            with self.subTest(guide=name):
                self.assertNotIn("`", guide)
                self.assertNotIn("sh scripts/test.sh", guide)
                self.assertNotIn(r"C:\Tools", guide, "examples run from a folder only its owners can change")
        lines = self.guide("README.txt").split("\n")
        quick_start = lines[:lines.index("Exit codes")]
        last = max(i for i, line in enumerate(quick_start) if line) + 1
        self.assertLessEqual(last, QUICK_START_LINES, "the quick start ends on the first screen")

    def test_guide_agrees_with_the_help_switch_table(self):
        # The switches it names show the box, and the look-alikes it names lock.
        text = " ".join(self.guide("README.txt").split())
        named = re.search(r"The arguments (.+?) show a box that explains the numbers; (.+?) lock\.",
                          text)
        self.assertIsNotNone(named)
        rows = {row.argument.decode("latin-1"): row.helps for row in case_tables.HELP_SWITCHES}
        switches = re.split(r", | and ", named.group(1))
        self.assertEqual(sorted(switches), sorted(a for a, helps in rows.items() if helps))
        for look_alike in re.split(r", | and ", named.group(2)):
            with self.subTest(look_alike=look_alike):
                self.assertIs(rows.get(look_alike), False, "not a look-alike row of help_switches.txt")

    def test_guides_stay_short_and_plain(self):
        # Prose only: code blocks (four spaces) and tables (two) are not
        # sentences, nor the list of sources.
        quotations = 0
        for name in self.GUIDES:
            guide = self.guide(name)
            prose = " ".join(line for line in guide.split("\nSources\n")[0].split("\n")
                             if not line.startswith("  ") and not re.match(r"^[-=]{3,}$", line))
            sentences = [s for s in re.split(r"(?<=[.!?])\s+(?=[A-Z\"(])", " ".join(prose.split()))
                         if len(s.split()) >= 3]
            words = [len(re.sub(r"\[[\d, ]+\]", "", s).split()) for s in sentences]
            with self.subTest(guide=name):
                self.assertLessEqual(guide.count("\n"), GUIDE_LINES[name])
                self.assertLessEqual(sum(words) / len(words), SENTENCE_WORDS[0])
                self.assertLessEqual(max(words), SENTENCE_WORDS[1],
                                     sentences[words.index(max(words))])
                self.assertEqual([s for s in sentences if len(re.findall(r"\[[\d, ]+\]", s)) > 1], [],
                                 "one citation mark a sentence")
                self.assertSourcesInOrder(prose, guide.partition("\nSources\n-------\n")[2])
            quotations += sum(len(q.split()) >= 5 for q in re.findall(r'"([^"]{1,800}?)"', prose))
        self.assertLessEqual(quotations, QUOTATIONS)

    def assertSourcesInOrder(self, prose, sources):
        marks = [int(n) for mark in re.findall(r"\[([\d, ]+)\]", prose) for n in mark.split(",")]
        first_uses = list(dict.fromkeys(marks))
        listed = re.findall(r"^\[(\d+)\] .+: (\S+)$", sources, re.M)
        self.assertEqual(first_uses, list(range(1, len(first_uses) + 1)), "numbered by first use")
        self.assertEqual([int(n) for n, _ in listed], first_uses,
                         "each source listed once, by its title and address")
        for _, address in listed:
            parts = urllib.parse.urlsplit(address)
            self.assertEqual((parts.scheme, parts.netloc), ("https", LEARN), address)
            self.assertIsNone(re.match(r"/[a-z]{2}-[a-z]{2}/", parts.path), "no language part")


class ReproducibilityTest(ImageTestCase):
    """Builds the sources twice more, each copy in its own folder."""

    COPIES = ("repro-a", "repro-b-in-a-longer-folder")

    def copy_sources(self, destination):
        ignore = shutil.ignore_patterns("build", ".*", "__pycache__")
        shutil.copytree(ARGS.source, destination, ignore=ignore)

    def build_copy(self, name):
        root = os.path.join(ARGS.work, name)
        shutil.rmtree(root, ignore_errors=True)
        source = os.path.join(root, "source")
        binary = os.path.join(root, "build")
        self.copy_sources(source)
        configure = ["cmake", "-S", source, "-B", binary, "-G", ARGS.generator,
                     "-DCMAKE_TOOLCHAIN_FILE=%s" % os.path.join(source, "cmake", "i686-w64-mingw32.cmake"),
                     "-DCMAKE_BUILD_TYPE=%s" % ARGS.build_type]
        for command in (configure, ["cmake", "--build", binary, "--target", "package"]):
            result = subprocess.run(command, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, "%s failed:\n%s%s" % (
                " ".join(command), result.stdout[-3000:], result.stderr[-3000:]))
        with open(os.path.join(binary, "corvane.exe"), "rb") as f:
            data = f.read()
        zip_path = os.path.join(binary, os.path.basename(ARGS.zip))
        with open(zip_path, "rb") as f, open(zip_path + ".sha256", "rb") as g:
            return root, data, f.read() + g.read()

    def describe_difference(self, a, b):
        if len(a) != len(b):
            return "sizes differ: %d and %d bytes" % (len(a), len(b))
        offsets = [i for i in range(len(a)) if a[i] != b[i]]
        where = sorted({section_of_offset(self.pe, i) for i in offsets})
        return "%d bytes differ, first at 0x%x, in: %s" % (len(offsets), offsets[0], ", ".join(where))

    def test_two_clean_builds_match_each_other_and_this_build(self):
        if not ARGS.reproduce:
            self.skipTest("needs --reproduce")
        (root_a, image_a, zip_a), (root_b, image_b, zip_b) = [
            self.build_copy(name) for name in self.COPIES]
        if image_a != image_b:
            self.fail("the clean builds differ: " + self.describe_difference(image_a, image_b))
        if image_a != self.data:
            self.fail("this build differs from a clean one (stale build?): " +
                      self.describe_difference(image_a, self.data))
        with open(ARGS.zip, "rb") as f, open(ARGS.zip + ".sha256", "rb") as g:
            self.assertEqual([zip_a, zip_b], [f.read() + g.read()] * 2,
                             "the download zips or their sums differ")
        for name in self.COPIES:
            shutil.rmtree(os.path.join(ARGS.work, name), ignore_errors=True)

    def test_no_timestamps(self):
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)
        for descriptor in self.pe.DIRECTORY_ENTRY_IMPORT:
            self.assertEqual(descriptor.struct.TimeDateStamp, 0)
        pending = [self.pe.DIRECTORY_ENTRY_RESOURCE]
        while pending:
            directory = pending.pop()
            self.assertEqual(directory.struct.TimeDateStamp, 0)
            pending += [e.directory for e in directory.entries if hasattr(e, "directory")]


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--map", required=True)
    parser.add_argument("--zip", required=True)
    parser.add_argument("--icons", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--generator", default="Unix Makefiles")
    parser.add_argument("--build-type", default="MinSizeRel")
    parser.add_argument("--png")
    parser.add_argument("--reproduce", action="store_true")
    ARGS, rest = parser.parse_known_args()
    ARGS.source = os.path.abspath(ARGS.source)
    ARGS.work = os.path.abspath(ARGS.work)
    ARGS.png = ARGS.png or os.path.join(ARGS.work, "icons-4x.png")
    result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    # A test name or pattern that matches nothing runs nothing, and
    # unittest calls that a success.
    if result.testsRun == len(result.skipped):
        print("test_image: no test ran", file=sys.stderr)
        sys.exit(1)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
