#!/usr/bin/python3
"""Desktop smoke test, run by run-smoke.sh: the built program with its demo board, driven through its
accessibility interface (AT-SPI) as a technician would: find the board, analyse a factory entry, program
it (answering the polarity question in the real message box), save the database through the real file
dialog, exit. Every wait has a limit; a failure prints its reason and the program's output, status 1."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import gi
import pyatspi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

BOX = "Tessary Configurator 2.3"  # the title of the program's message boxes
ENTRY = "Mechanism 11"  # a positive strobe; the demo board detects a negative one, so the program asks
SHOWING, SENSITIVE = pyatspi.STATE_SHOWING, pyatspi.STATE_SENSITIVE


class Failure(Exception):
    pass


def wait(what, probe, timeout=15):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            found = probe()
        except (GLib.Error, NotImplementedError):  # a window or control on its way in or out
            found = None
        if found:
            return found
        time.sleep(0.1)
    raise Failure(f"timed out after {timeout} s waiting for {what}")


def has(acc, state):
    return acc.getState().contains(state)


def find(root, role, name=None, hidden=False):
    """The descendants of that role (and name), breadth first; hidden ones only when asked, none inside
    lists (their items are many) or inside the menu bar unless searched from it."""
    found, queue = [], [c for c in root if c is not None]
    while queue:
        acc = queue.pop(0)
        if hidden or has(acc, SHOWING):
            found += [acc] if acc.getRoleName() == role and name in (None, acc.name) else []
            queue += [c for c in acc if c is not None] if acc.getRoleName() not in ("list", "menu bar") else []
    return found


def one(root, role, name=None, hidden=False):
    found = find(root, role, name, hidden)
    if not found:
        raise Failure(f"no {role} \"{name}\" in \"{root.name}\"")
    return found[0]


def press(acc):
    if not has(acc, SENSITIVE):
        raise Failure(f"\"{acc.name}\" is disabled")
    acc.queryAction().doAction(0)


def choose(main, menu, item):
    """A menu item's action returns when its command ends, which a modal dialog holds: the call gets a
    short limit, and its reply is not needed."""
    Atspi.set_timeout(800, 15000)
    try:
        press(one(one(one(main, "menu bar", None, True), "menu item", menu, True), "menu item", item, True))
    except GLib.Error as error:
        if "reply" not in str(error).lower() and "timeout" not in str(error).lower():
            raise
    finally:
        Atspi.set_timeout(25000, 15000)


def text(acc):
    try:
        return acc.queryText().getText(0, acc.queryText().characterCount)
    except NotImplementedError:
        return acc.name


def labels(panel):
    return [text(label) for label in find(panel, "label")]


def window(app, title, roles=("frame", "dialog", "alert")):
    return next((w for w in app if w and w.name == title and w.getRoleName() in roles and has(w, SHOWING)), None)


def session(program, workdir):
    app = wait("the program on the accessibility bus", lambda: next(
        (a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == program.pid), None), 20)
    app.set_cache_mask(Atspi.Cache.NONE)  # states read afresh on every call
    main = wait("the main window after the splash", lambda: next((w for w in app if w and w.getRoleName() == "frame"
                                                                   and w.name.startswith(BOX[:21]) and has(w, SHOWING)), None), 20)
    printer = wait("the printer column", lambda: find(main, "panel", "Printer"))[0]
    identity, configure = one(printer, "panel", "Firmware Identity"), one(printer, "push button", "Configure printer")
    entries = one(one(main, "panel", "Mechanism database"), "list")

    press(one(printer, "push button", "Check identity"))
    ports = wait("the port selection", lambda: window(app, "Communication Port Selection"))
    press(one(ports, "push button", "Autodetect Chipset"))
    wait("the demo board found on COM 1 at 115200 bauds", lambda: " ".join(
        labels(one(ports, "panel", "Current Chipset"))).endswith(" found on COM 1 at 115200 bauds"), 30)
    press(one(ports, "push button", "OK"))
    wait("\"Port: COM1\", \"Baudrate: 115200\"", lambda: has(configure, SENSITIVE)
         and labels(one(printer, "panel", "Communication")) == ["Port: COM1", "Baudrate: 115200"])

    # Select the entry's row (Qt 6.4 offers rows through the table interface) and analyse it.
    entries.queryTable().addRowSelection(next(i for i in entries if i.name == ENTRY).getIndexInParent())
    wait("the selection on the status bar", lambda: labels(one(main, "status bar")) == [f"Configuration selected : {ENTRY}"])
    press(one(main, "push button", "Analyse current entry"))
    wait("the entry in the editor", lambda: text(one(main, "text", "Mechanism identity")) == ENTRY)

    press(configure)
    box = wait("the polarity question", lambda: window(app, BOX, ("dialog", "alert")))
    if "Hardware detected polarity doesn't match user choice !  Program anyway ?" not in labels(box):
        raise Failure(f"asked {labels(box)}")
    press(one(box, "push button", "OK"))
    wait("the programmed identity, and the status bar saying so", lambda: not window(app, BOX, ("dialog", "alert"))
         and has(configure, SENSITIVE) and " ".join(labels(identity)).startswith(ENTRY + " ")
         and labels(one(main, "status bar"))[0].startswith("Configuration programmed on COM1 at 115200 bauds: "))

    target = os.path.join(workdir, "saved.cdb")
    choose(main, "Database", "Save database as...")
    dialog = wait("the file dialog", lambda: window(app, "Save configuration database as..."))
    wait("its file name field", lambda: next((t for t in find(dialog, "text") if has(t, pyatspi.STATE_EDITABLE)),
                                             None)).queryEditableText().setTextContents(target)
    press(one(dialog, "push button", "Save"))
    wait(f"{target} with the 29 factory entries", lambda: os.path.exists(target) and os.path.getsize(target) == 18 + 29 * 34)
    choose(main, "Database", "Exit")
    if wait("the program to end", lambda: program.poll() is not None) and program.returncode != 0:
        raise Failure(f"the program ended with status {program.returncode}")


def main():
    workdir = tempfile.mkdtemp(prefix="tessary-smoke-")
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    env.pop("QT_QPA_PLATFORM", None)  # a real window on the X display
    with open(os.path.join(workdir, "program.log"), "w+b") as output:
        program = subprocess.Popen([os.path.abspath(sys.argv[1]), "--demo"], cwd=workdir, env=env, stdout=output,
                                   stderr=subprocess.STDOUT)
        try:
            session(program, workdir)
            print("PASS")
            return 0
        except Exception as failure:  # noqa: BLE001 - whatever it is, the program must end
            output.seek(0)
            print(f"FAIL: {failure!r}\n--- program output ---\n" + output.read().decode("utf-8", "replace")[-4000:])
            return 1
        finally:
            if program.poll() is None:
                program.kill()
            program.wait()
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
