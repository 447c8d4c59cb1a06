#!/usr/bin/python3
"""Makes the download: corvane-VERSION-win32.zip with corvane.exe,
LICENSE.txt, README.txt, ADMIN.txt, corvane-task.xml and SHA256SUMS.txt, and
beside it ZIP.sha256, the zip's own sum for the release page, as sha256sum -c
reads it.

    make_release.py --version V --exe corvane.exe --readme README.md
                    --admin ADMIN.md --license LICENSE --task corvane-task.xml
                    --date YYYY-MM-DD --out ZIP

README.txt is made from the parts of README.md between the markers
"<!-- download -->" and "<!-- end download -->", ADMIN.txt from the whole of
ADMIN.md, both turned into plain ASCII text with CRLF line ends for Notepad. The task definition is written in
UTF-16 with a byte-order mark, an XML declaration that says so, and CRLF:
no encoding is documented for task files, so this one states its own
twice. The zip is the same bytes on every build: fixed member order, one
fixed date, fixed attributes, no paths.
"""

import argparse
import glob
import hashlib
import os
import re
import sys
import textwrap
import zipfile

BEGIN = "<!-- download -->"
END = "<!-- end download -->"
MEMBERS = ("corvane.exe", "LICENSE.txt", "README.txt", "ADMIN.txt", "corvane-task.xml",
           "SHA256SUMS.txt")
XML_DECLARATION = '<?xml version="1.0" encoding="UTF-16"?>\n'
UTF16_BOM = b"\xff\xfe"
# What a DOS-era viewer cannot show, spelt the plain way.
ASCII_FOR = {"\u2013": "-", "\u2014": "-", "\u2018": "'", "\u2019": "'",
             "\u201c": '"', "\u201d": '"', "\u00d7": "x", "\u2026": "...",
             "\u00a0": " "}
UNDERLINES = {1: "=", 2: "-", 3: "~"}
LINE_WIDTH = 78
FILE_ATTRIBUTE_ARCHIVE = 0x20
CREATED_ON_DOS = 0


def inline(text):
    """Markdown inline markup to plain text: code spans and bold."""
    text = re.sub(r"\*\*([^*]+)\*\*", r"\1", text)
    text = re.sub(r"`([^`]+)`", r"\1", text)
    return text


def table(rows):
    """A Markdown table (header, rule, body) as aligned columns."""
    cells = [[inline(c.strip()) for c in row.strip().strip("|").split("|")] for row in rows]
    header, body = cells[0], cells[2:]
    widths = [max(len(r[i]) for r in [header] + body) for i in range(len(header))]
    # The last column wraps, indented under itself, to keep within LINE_WIDTH.
    indent = 2 + sum(w + 3 for w in widths[:-1])
    widths[-1] = min(widths[-1], LINE_WIDTH - indent)
    out = []
    for row in [header, ["-" * w for w in widths]] + body:
        first = "  " + "   ".join(c.ljust(w) for c, w in zip(row[:-1], widths))
        wrapped = textwrap.wrap(row[-1], widths[-1]) or [""]
        out.append((first + ("   " if len(row) > 1 else "") + wrapped[0]).rstrip())
        out += [" " * indent + more for more in wrapped[1:]]
    return out


def download_parts(markdown):
    """The readme's parts between the download markers, in order."""
    return re.findall("^" + re.escape(BEGIN) + r"\n(.*?)^" + re.escape(END), markdown,
                      re.S | re.M)


def readme_text(markdown, version):
    parts = download_parts(markdown)
    if not parts:
        sys.exit("make_release: no %s ... %s part in the readme" % (BEGIN, END))
    return plain_text("\n".join(parts), version)


def plain_text(markdown, version):
    out = []
    lines = markdown.split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        heading = re.match(r"^(#{1,3}) (.*)$", line)
        if heading:
            level = len(heading.group(1))
            title = inline(heading.group(2))
            if level == 1:
                title = "%s %s" % (title, version)
            out += [title, UNDERLINES[level] * len(title)]
        elif line.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                rows.append(lines[i])
                i += 1
            out += table(rows)
            continue
        elif line.startswith("    "):
            # Code exactly as written. Markdown needs a blank line between
            # the sentence that introduces a block and the block; plain text
            # reads better, and shorter, without it.
            if len(out) > 1 and out[-1] == "" and out[-2].endswith(":") \
                    and not out[-2].startswith("    "):
                out.pop()
            out.append(line)
        else:
            out.append(inline(line))
        i += 1
    text = "\n".join(out).strip("\n") + "\n"
    for char, ascii_text in ASCII_FOR.items():
        text = text.replace(char, ascii_text)
    stray = sorted({c for c in text if ord(c) > 126 or (ord(c) < 32 and c != "\n")})
    if stray:
        sys.exit("make_release: the guides' text needs a plain spelling for %r" % stray)
    return text


def crlf(text, encoding="ascii"):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode(encoding)


def task_definition(text):
    if not text.isascii() or text.startswith("<?xml"):
        sys.exit("make_release: the task definition must be ASCII, without a declaration")
    return UTF16_BOM + crlf(XML_DECLARATION + text, "utf-16-le")


def member(name, date):
    info = zipfile.ZipInfo(name, date_time=date)
    info.create_system = CREATED_ON_DOS
    info.external_attr = FILE_ATTRIBUTE_ARCHIVE
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for option in ("--version", "--exe", "--readme", "--admin", "--license", "--task", "--date",
                   "--out"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    date = tuple(int(n) for n in args.date.split("-")) + (0, 0, 0)

    with open(args.exe, "rb") as f:
        exe = f.read()
    with open(args.readme, encoding="utf-8") as f:
        readme = crlf(readme_text(f.read(), args.version))
    with open(args.admin, encoding="utf-8") as f:
        admin = crlf(plain_text(f.read(), args.version))
    with open(args.license, encoding="utf-8") as f:
        licence = crlf(f.read())
    with open(args.task, encoding="ascii", newline="\n") as f:
        task = task_definition(f.read())
    contents = {"corvane.exe": exe, "LICENSE.txt": licence, "README.txt": readme,
                "ADMIN.txt": admin, "corvane-task.xml": task}
    sums = "".join("%s  %s\n" % (hashlib.sha256(contents[n]).hexdigest(), n)
                   for n in MEMBERS if n in contents)
    contents["SHA256SUMS.txt"] = crlf(sums)

    # One download in the folder: older versions' zips and sums go.
    folder = os.path.dirname(os.path.abspath(args.out))
    for old in glob.glob(os.path.join(folder, "corvane-*-win32.zip*")):
        os.remove(old)
    partial = args.out + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in MEMBERS:
            archive.writestr(member(name, date), contents[name], compresslevel=9)
    with open(partial, "rb") as f:
        zip_sum = "%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), os.path.basename(args.out))
    with open(partial + ".sha256", "w", encoding="ascii", newline="\n") as f:
        f.write(zip_sum)
    os.replace(partial, args.out)
    os.replace(partial + ".sha256", args.out + ".sha256")


if __name__ == "__main__":
    main()
