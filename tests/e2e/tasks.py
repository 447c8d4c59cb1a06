"""Task files under Wine: registered with schtasks /create /xml, as an
administrator would, and through the Task Scheduler service's own call
(tools/task_store.c), whose stored copy is the only one under Wine that keeps
the task's actions and triggers."""

import os
import re
from xml.etree import ElementTree

from winetest import run_wine, windows_path

NAMESPACE = {"t": "http://schemas.microsoft.com/windows/2004/02/mit/task"}
UTF16_BOM = b"\xff\xfe"
TIMEOUT = 120


def task_text(data):
    """The text of a task file as the shipped one is stored: UTF-16 with a
    byte-order mark and CRLF line ends."""
    if not data.startswith(UTF16_BOM):
        raise AssertionError("a task file without a UTF-16 byte-order mark")
    return data[len(UTF16_BOM):].decode("utf-16-le").replace("\r\n", "\n")


def task_file(text):
    return UTF16_BOM + text.replace("\n", "\r\n").encode("utf-16-le")


def _write(wine, name, text):
    path = os.path.join(wine.directory, re.sub(r"\W", "-", name) + ".xml")
    with open(path, "wb") as f:
        f.write(task_file(text))
    return path


def schtasks_create(wine, name, text):
    """Registers the task with schtasks /create /xml; returns (exit code, output)."""
    status, out = run_wine(["schtasks", "/create", "/xml", windows_path(_write(wine, name, text)),
                            "/tn", name], wine.env, TIMEOUT)
    return status, out.decode("ascii", "replace")


def stored_task(wine, store_client, name, text):
    """Registers the task through the service's own call; returns the task
    element of what the service gives back for it."""
    status, out = run_wine([store_client, name, windows_path(_write(wine, name, text))],
                           wine.env, TIMEOUT, keep_stderr=False)
    first, _, xml = out.decode("ascii", "replace").replace("\r\n", "\n").partition("\n")
    if status != 0 or not first.startswith("stored "):
        raise AssertionError("task_store %s failed (%d): %s" % (name, status, first))
    return ElementTree.fromstring(xml)


def shape(element):
    """An element's tags, attributes and text, children in order: what a
    reader of the task takes from it, without comments or blanks."""
    return (element.tag, sorted(element.attrib.items()), (element.text or "").strip(),
            [shape(child) for child in element])


def exec_action(task):
    """(Command, Arguments) of the task's one Exec action."""
    return tuple(task.findtext("t:Actions/t:Exec/t:" + part, namespaces=NAMESPACE)
                 for part in ("Command", "Arguments"))
