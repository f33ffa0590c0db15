#!/usr/bin/python3
"""Desktop smoke test: the real program, driven through its accessibility
interface (AT-SPI) as a technician would use it, against the demo board.

Run it through run-smoke.sh, which provides the X display (Xvfb), the session
bus and the accessibility bus. Every wait has a limit; on any failure the
program is killed, the reason and the program's output are printed and the
exit status is 1.
"""

import argparse
import ctypes
import ctypes.util
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

import pyatspi
import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

APP_NAME = "Tessary Configurator"
# "Tessary Configurator " (with its trailing blank); with the demo board the
# title also says so.
MAIN_TITLE = "Tessary Configurator "
BOX_TITLE = "Tessary Configurator 2.3"
PORT_TITLE = "Communication Port Selection"
MONITOR_TITLE = "Traffic monitor"
SAVE_TITLE = "Save configuration database as..."
START_IDENTITY = "Please, run chipset detection"
FACTORY_ENTRIES = 29
# The entry analysed and programmed. The demo board starts with another one
# ("Mechanism 01"), so the read-back after programming proves the writes; its
# hardware detects a negative strobe and this entry's is positive, so the
# program must ask before programming it.
ENTRY = "Mechanism 11"
ENTRY_CODE = "1111010010100000"

# The editor's groups whose options the configuration code decides.
EDITOR_GROUPS = ("Mechanism", "Head-up polarity", "Motor steps", "Motor rotation",
                 "Head width", "Head type", "Strobe polarity")


class SmokeFailure(Exception):
    pass


START = time.monotonic()


def log(text):
    print(f"[{time.monotonic() - START:6.2f}s] {text}", flush=True)


# --- AT-SPI helpers --------------------------------------------------------

def role(acc):
    try:
        return acc.getRoleName()
    except GLib.Error:
        return ""


def name(acc):
    try:
        return acc.name or ""
    except GLib.Error:
        return ""


def has_state(acc, state):
    try:
        return acc.getState().contains(state)
    except GLib.Error:
        return False


def showing(acc):
    return has_state(acc, pyatspi.STATE_SHOWING)


def enabled(acc):
    return has_state(acc, pyatspi.STATE_ENABLED) and has_state(acc, pyatspi.STATE_SENSITIVE)


def checked(acc):
    return has_state(acc, pyatspi.STATE_CHECKED)


def children(acc):
    try:
        return [c for c in acc if c is not None]
    except GLib.Error:
        return []


def find_all(root, want_role=None, want_name=None, visible=True, into_lists=False):
    """Every descendant of root (breadth first) with that role and name.
    Hidden parts are skipped when visible is set; list items are not searched
    unless asked, which keeps a search to a few dozen calls."""
    found = []
    queue = children(root)
    while queue:
        acc = queue.pop(0)
        if visible and not showing(acc):
            continue
        r = role(acc)
        if (want_role is None or r == want_role) and (want_name is None or name(acc) == want_name):
            found.append(acc)
        if r in ("list", "table", "tree table", "tree") and not into_lists:
            continue
        if r == "menu bar":
            continue
        queue.extend(children(acc))
    return found


def find_one(root, want_role, want_name, **kwargs):
    found = find_all(root, want_role, want_name, **kwargs)
    return found[0] if found else None


def wait_for(what, probe, timeout, interval=0.1):
    """Polls probe() until it returns something true; fails after timeout s."""
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            raise SmokeFailure(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def press(acc, what):
    """The accessible's default action: a click on a button."""
    if acc is None:
        raise SmokeFailure(f"{what} not found")
    if not enabled(acc):
        raise SmokeFailure(f"{what} is disabled")
    action = acc.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("press", "click", "Press", "Click"):
            action.doAction(i)
            return
    action.doAction(0)


def trigger_menu_item(acc, what):
    """A menu item's action runs its command before the call returns: a
    command that opens a modal window would hold the call until the window
    closes. Such calls are made with a short limit; the reply that times out
    is of no interest."""
    if acc is None:
        raise SmokeFailure(f"menu item {what} not found")
    if not enabled(acc):
        raise SmokeFailure(f"menu item {what} is disabled")
    Atspi.set_timeout(800, 15000)
    try:
        acc.queryAction().doAction(0)
    except GLib.Error as error:
        text = str(error).lower()
        if "did not receive a reply" not in text and "timeout" not in text and "noreply" not in text:
            raise
    finally:
        Atspi.set_timeout(25000, 15000)


def text_of(acc):
    try:
        t = acc.queryText()
        return t.getText(0, t.characterCount)
    except (NotImplementedError, GLib.Error):
        return name(acc)


def labelled(root, want_role, caption):
    """The control that the label of that caption names (labelled-by)."""
    for acc in find_all(root, want_role):
        for relation in acc.getRelationSet():
            if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY and any(
                    name(relation.getTarget(i)) == caption for i in range(relation.getNTargets())):
                return acc
    return None


def select_row(view, item):
    """Selects a list row as a click would: Qt 6.4 offers no Selection
    interface on item views, but their Table interface selects rows."""
    row = item.getIndexInParent()
    try:
        if view.queryTable().addRowSelection(row):
            return
    except (NotImplementedError, GLib.Error):
        pass
    item.queryAction().doAction(0)  # "Toggle" selects the item


def set_text(acc, text):
    acc.queryEditableText().setTextContents(text)


def wait_for_display(timeout=10):
    """The display must take clients before the program starts: a display
    that never does fails here, with a message that says so."""
    try:
        xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    except OSError:
        time.sleep(1)  # no libX11 to ask: give the server a moment
        return
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]

    def connect():
        display = xlib.XOpenDisplay(None)
        if display:
            xlib.XCloseDisplay(display)
        return bool(display)

    wait_for(f"the X display {os.environ.get('DISPLAY')} to take clients", connect, timeout, 0.1)


# --- the program -----------------------------------------------------------

class Program:
    def __init__(self, path, args, workdir):
        self.command = [path] + args
        self.workdir = workdir
        self.log_path = os.path.join(workdir, "program.log")
        self.log_file = None
        self.process = None
        self.app = None
        self.starts = 0
        self.start()

    def start(self):
        if self.log_file:
            self.log_file.close()
        self.log_file = open(self.log_path, "wb")
        env = dict(os.environ)
        env.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
        env.pop("QT_QPA_PLATFORM", None)  # a real window on the X display
        self.process = subprocess.Popen(self.command, cwd=self.workdir, env=env,
                                        stdout=self.log_file, stderr=subprocess.STDOUT)
        self.starts += 1

    def restart_after_display_failure(self):
        """Now and then, right after Xvfb and the accessibility bus came up,
        the program's first connection to the display is refused although a
        test connection just before succeeded. That is the test bed, not the
        program: start it again (twice at most)."""
        if self.running() or self.starts >= 3 or "could not connect to display" not in self.output():
            return False
        log("the program could not connect to the display; starting it again")
        if os.environ.get("SMOKE_DEBUG"):
            print(self.output(), flush=True)
        time.sleep(0.5)
        self.start()
        return True

    def attach(self, app):
        # States and names are read afresh on every call: a cached state
        # can lag behind the window by an event or two.
        app.set_cache_mask(Atspi.Cache.NONE)
        self.app = app

    def running(self):
        return self.process.poll() is None

    def ensure_running(self):
        if not self.running():
            raise SmokeFailure(f"the program ended unexpectedly with status {self.process.returncode}")

    def find_app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in children(desktop):
            try:
                if app.get_process_id() == self.process.pid:
                    return app
            except (AttributeError, GLib.Error):
                if name(app) == APP_NAME:
                    return app
        return None

    def windows(self):
        if self.app is None:
            return []
        return children(self.app)

    def window(self, title, roles=("frame", "dialog", "alert", "window")):
        for w in self.windows():
            if name(w) == title and role(w) in roles and showing(w):
                return w
        return None

    def message_boxes(self):
        return [w for w in self.windows()
                if name(w) == BOX_TITLE and role(w) in ("dialog", "alert") and showing(w)]

    def kill(self):
        if self.running():
            self.process.terminate()
            try:
                self.process.wait(3)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(3)
        self.log_file.close()

    def output(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""


def box_text(box):
    """The message of a message box: its labels, the title excepted."""
    texts = [text_of(l) for l in find_all(box, "label")]
    return " | ".join(t for t in texts if t)


def no_message_box(program, during):
    boxes = program.message_boxes()
    if boxes:
        raise SmokeFailure(f"unexpected message during {during}: \"{box_text(boxes[0])}\"")


def answer_box(box, button):
    """Presses the button and waits for the box to go, so that a box on its
    way out is not taken for a new one."""
    press(find_one(box, "push button", button), f"\"{button}\" in the message box")
    wait_for("the message box to close", lambda: not showing(box), 10)


def screenshot(acc, path):
    """The window's area of the X root window, as PNG (needs ImageMagick)."""
    tool = shutil.which("import")
    if tool is None:
        log(f"no screenshot {os.path.basename(path)}: ImageMagick's import is not installed")
        return
    x, y, w, h = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    result = subprocess.run([tool, "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage", path],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=20)
    if result.returncode != 0:
        raise SmokeFailure(f"screenshot {path} failed: {result.stdout.decode(errors='replace')}")
    log(f"screenshot {path} ({w}x{h})")


# --- the session -----------------------------------------------------------

def editor_state(main):
    """The chosen option of each editor group (None when none is)."""
    editor = find_one(main, "panel", "Configuration editor")
    state = {}
    for group in EDITOR_GROUPS:
        panel = find_one(editor, "panel", group)
        if panel is None:
            raise SmokeFailure(f"editor group \"{group}\" not found")
        chosen = [name(o) for o in find_all(panel, "radio button") if checked(o)]
        state[group] = chosen[0] if len(chosen) == 1 else None
    return state


def settled_editor_state(main):
    """The editor's state, read twice alike: the groups are read one call
    each, and a command may change them between two calls."""
    first = editor_state(main)
    return first if editor_state(main) == first else None


def option_checked(main, group, option):
    panel = find_one(main, "panel", group)
    target = find_one(panel, "radio button", option) if panel else None
    return target is not None and checked(target)


def label_texts(panel):
    return [text_of(l) for l in find_all(panel, "label")]


def run(program, workdir, shots, step_timeout):
    log("waiting for the main window after the splash")

    def main_window():
        program.restart_after_display_failure()
        program.ensure_running()
        if program.app is None:
            app = program.find_app()
            if app is not None:
                program.attach(app)
        return next((w for w in program.windows() if role(w) == "frame" and showing(w)
                     and (name(w) == MAIN_TITLE or name(w).startswith(MAIN_TITLE + "- "))), None)

    main = wait_for("the main window", main_window, 20)
    log(f"main window \"{name(main)}\"")
    printer = wait_for("the printer column", lambda: find_one(main, "panel", "Printer"), step_timeout)
    identity_panel = find_one(printer, "panel", "Firmware Identity")
    communication = find_one(printer, "panel", "Communication")
    wait_for("the start state of the identity label",
             lambda: label_texts(identity_panel) == [START_IDENTITY], step_timeout)
    if enabled(find_one(printer, "push button", "Check configuration")):
        raise SmokeFailure("\"Check configuration\" is enabled before any detection")
    database = find_one(main, "panel", "Mechanism database")
    entries = find_one(database, "list", None)
    if entries is None or entries.childCount != FACTORY_ENTRIES:
        raise SmokeFailure(f"the database list does not hold the {FACTORY_ENTRIES} factory entries")
    log("main window up, start state as expected")

    # The traffic monitor, opened before the scan so that it records it.
    menubar = find_one(main, "menu bar", None, visible=False)
    comm_menu = find_one(menubar, "menu item", "Communication", visible=False) if menubar else None
    if comm_menu is None:
        raise SmokeFailure("the menu \"Communication\" is not exposed")
    monitor_item = find_all(comm_menu, "menu item", "Traffic monitor", visible=False)
    trigger_menu_item(monitor_item[0] if monitor_item else None, "\"Traffic monitor\"")
    monitor = wait_for(f"the window \"{MONITOR_TITLE}\"", lambda: program.window(MONITOR_TITLE), step_timeout)
    log("traffic monitor open")

    # Check identity: the port selection window, an automatic scan, OK.
    press(find_one(printer, "push button", "Check identity"), "\"Check identity\"")
    ports = wait_for(f"the window \"{PORT_TITLE}\"", lambda: program.window(PORT_TITLE), step_timeout)
    press(find_one(ports, "push button", "Autodetect Chipset"), "\"Autodetect Chipset\"")
    chipset = find_one(ports, "panel", "Current Chipset")
    if chipset is None:
        raise SmokeFailure("the group \"Current Chipset\" is not exposed")

    def scan_result():
        program.ensure_running()
        no_message_box(program, "the automatic scan")
        ok = find_one(ports, "push button", "OK")
        text = " ".join(label_texts(chipset))
        if ok is not None and enabled(ok) and (" found on COM " in text or text == "No printer found"):
            return text
        return None

    result = wait_for("the result of the automatic scan", scan_result, 30)
    log(f"scan result: \"{result}\"")
    if not result.endswith(" found on COM 1 at 115200 bauds"):
        raise SmokeFailure(f"the scan did not find the demo board on COM 1 at 115200 bauds: \"{result}\"")
    com1 = find_one(ports, "radio button", None)
    if com1 is None or name(com1) != "COM 1 (demo board)" or not checked(com1):
        raise SmokeFailure(f"the scan did not select \"COM 1 (demo board)\" ({name(com1) if com1 else 'none'})")
    speed = labelled(ports, "combo box", "Baudrate:")
    if speed is None or name(speed) != "115200":
        raise SmokeFailure("the list labelled \"Baudrate:\" does not show the speed found, 115200"
                           + ("" if speed is None else f": \"{name(speed)}\""))
    if shots:
        screenshot(ports, os.path.join(shots, "smoke-portselection.png"))
    press(find_one(ports, "push button", "OK"), "\"OK\" of the port selection")
    wait_for("the port selection window to close", lambda: program.window(PORT_TITLE) is None, step_timeout)

    def identity_shown():
        program.ensure_running()
        no_message_box(program, "the identity check")
        texts = label_texts(communication)
        if texts and texts[0] == "Port: COM1" and enabled(find_one(printer, "push button", "Check configuration")):
            return texts
        return None

    texts = wait_for("\"Port: COM1\" and the printer buttons", identity_shown, step_timeout)
    if texts != ["Port: COM1", "Baudrate: 115200"]:
        raise SmokeFailure(f"communication labels read {texts}")
    identity = label_texts(identity_panel)
    if len(identity) != 1 or not identity[0].strip() or identity[0] in (START_IDENTITY, "No chipset found"):
        raise SmokeFailure(f"the identity label reads {identity}")
    log(f"identity \"{identity[0]}\", {texts[0]}, {texts[1]}")

    # The monitor has shown the scan and the identity query as they went.
    traffic = find_one(monitor, "text", "Serial traffic")
    if traffic is None:
        raise SmokeFailure("the traffic view \"Serial traffic\" is not exposed")
    wanted = ("---- Autodetect Chipset ----", "opened at 115200 bauds, hardware handshake",
              "sent      1B 49", "---- Check identity ----")
    wait_for("the traffic monitor to show the scan and the identity query",
             lambda: all(w in text_of(traffic) for w in wanted), step_timeout)
    log(f"traffic monitor shows {len(text_of(traffic).splitlines())} lines of the scan and the identity query")
    if shots:
        screenshot(monitor, os.path.join(shots, "smoke-trafficmonitor.png"))

    # Check configuration: the editor takes what the board holds.
    press(find_one(printer, "push button", "Check configuration"), "\"Check configuration\"")
    config_name = find_one(main, "text", "Mechanism identity")

    def editor_filled():
        program.ensure_running()
        no_message_box(program, "the settings read-back")
        if not enabled(find_one(printer, "push button", "Check configuration")):
            return None
        state = settled_editor_state(main)
        if not state or None in state.values() or not text_of(config_name).strip():
            return None
        return state

    board_state = wait_for("the editor to fill from the board", editor_filled, step_timeout)
    if not option_checked(main, "Configuration mode", "User"):
        raise SmokeFailure("the read-back did not select the configuration mode \"User\" of the demo board")
    if not option_checked(main, "Identity determination", "Automatic"):
        raise SmokeFailure("the read-back did not select the identity determination \"Automatic\"")
    log(f"read back: {board_state}, name \"{text_of(config_name)}\"")

    # Analyse a factory entry: select its row, then "Analyse current entry".
    items = [c for c in children(entries) if name(c) == ENTRY]
    if not items:
        raise SmokeFailure(f"the entry \"{ENTRY}\" is not in the list")
    select_row(entries, items[0])
    status = find_one(main, "status bar", None)
    wait_for(f"the status bar to show \"Configuration selected : {ENTRY}\"",
             lambda: label_texts(status) == [f"Configuration selected : {ENTRY}"], step_timeout)
    press(find_one(database, "push button", "Analyse current entry"), "\"Analyse current entry\"")

    def analysed():
        no_message_box(program, "the analysis")
        state = settled_editor_state(main)
        return state if state and state != board_state and None not in state.values() else None

    entry_state = wait_for(f"the editor to show \"{ENTRY}\"", analysed, step_timeout)
    # From the button, the analysis also chooses a user configuration and
    # identity, the entry's name being the identity.
    if not (option_checked(main, "Configuration mode", "User")
            and option_checked(main, "Identity determination", "User")):
        raise SmokeFailure("the analysis did not choose a user configuration and identity")
    if text_of(config_name) != ENTRY:
        raise SmokeFailure(f"the mechanism identity reads \"{text_of(config_name)}\" after the analysis")
    log(f"analysed {ENTRY}: {entry_state}")

    # Configure printer; the polarity question is answered with OK.
    press(find_one(printer, "push button", "Configure printer"), "\"Configure printer\"")
    questions = []

    def programmed():
        program.ensure_running()
        for box in program.message_boxes():
            text = box_text(box)
            if "Program anyway ?" in text and not questions:
                questions.append(text)
                log(f"question: \"{text}\" -> OK")
                answer_box(box, "OK")
                return None
            raise SmokeFailure(f"unexpected message while programming: \"{text}\"")
        if not questions:
            return None  # the command has not reached the question yet
        button = find_one(printer, "push button", "Configure printer")
        shown = label_texts(identity_panel)
        if button is not None and enabled(button) and shown and shown[0].strip():
            return shown[0]
        return None

    # The question comes before any write: the board's hardware detects a
    # negative strobe and the entry's is positive.
    new_identity = wait_for("the polarity question, then programming to end with the identity shown",
                            programmed, step_timeout)
    log(f"programmed; identity after the reset: \"{new_identity}\"")
    if not new_identity.startswith(ENTRY):
        raise SmokeFailure(f"after programming the board reports \"{new_identity}\", not the identity \"{ENTRY}\"")

    # The board now holds the entry: change the editor, then read it back.
    set_text(config_name, "")
    rotation = find_one(find_one(main, "panel", "Motor rotation"), "radio button",
                        "Inverted" if entry_state["Motor rotation"] == "Normal" else "Normal")
    press(rotation, "an option of \"Motor rotation\"")
    wait_for("the editor to change", lambda: settled_editor_state(main) not in (None, entry_state)
             and not text_of(config_name), step_timeout)
    # Until the board's answer comes the name stays empty: no stale pass.
    press(find_one(printer, "push button", "Check configuration"), "\"Check configuration\"")
    readback = wait_for("the second read-back", editor_filled, step_timeout)
    if readback != entry_state or text_of(config_name) != ENTRY:
        raise SmokeFailure(f"the board holds {readback} named \"{text_of(config_name)}\", "
                           f"not the programmed {entry_state}")
    log("read-back after programming matches the entry")

    if shots:
        screenshot(main, os.path.join(shots, "smoke-main.png"))

    # Save the database as a file through the file dialog.
    target = os.path.join(workdir, "saved.cdb")
    menubar = find_one(main, "menu bar", None, visible=False)
    file_menu = find_one(menubar, "menu item", "Database", visible=False) if menubar else None
    if file_menu is None:
        raise SmokeFailure("the menu \"Database\" is not exposed")
    trigger_menu_item(find_all(file_menu, "menu item", "Save database as...", visible=False)[0]
                      if find_all(file_menu, "menu item", "Save database as...", visible=False) else None,
                      "\"Save database as...\"")
    dialog = wait_for(f"the file dialog \"{SAVE_TITLE}\"", lambda: program.window(SAVE_TITLE), step_timeout)
    field = wait_for("the file name field", lambda: next(
        (t for t in find_all(dialog, "text") if enabled(t) and has_state(t, pyatspi.STATE_EDITABLE)), None),
        step_timeout)
    set_text(field, target)
    press(find_one(dialog, "push button", "Save"), "\"Save\" of the file dialog")

    def saved():
        program.ensure_running()
        no_message_box(program, "the save")
        return program.window(SAVE_TITLE) is None and os.path.exists(target)

    wait_for(f"{target} to be written", saved, step_timeout)
    expected = 18 + 34 * FACTORY_ENTRIES
    wait_for(f"{target} to hold {expected} bytes", lambda: os.path.getsize(target) == expected, 5)
    with open(target, "rb") as f:
        content = f.read()
    if ENTRY_CODE.encode() not in content or b"Mechanism 01" not in content:
        raise SmokeFailure(f"{target} does not hold the factory entries")
    log(f"database saved: {target}, {expected} bytes")

    # Exit; answer OK should the program ask about unsaved changes.
    exit_item = find_all(file_menu, "menu item", "Exit", visible=False)
    trigger_menu_item(exit_item[0] if exit_item else None, "\"Exit\"")

    def ended():
        if not program.running():
            return True
        for box in program.message_boxes():
            if "Quit anyway ?" in box_text(box):
                answer_box(box, "OK")
            else:
                raise SmokeFailure(f"unexpected message at exit: \"{box_text(box)}\"")
        return False

    wait_for("the program to end", ended, step_timeout)
    if program.process.returncode != 0:
        raise SmokeFailure(f"the program ended with status {program.process.returncode}")
    log("program ended with status 0")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("program", help="the built tessary-configurator")
    parser.add_argument("--shots", help="folder for the screenshots (none when not given)")
    parser.add_argument("--args", default="--demo", help="the program's arguments (default: --demo)")
    parser.add_argument("--step-timeout", type=float, default=15, help="limit of each wait, s")
    parser.add_argument("--limit", type=int, default=100, help="limit of the whole run, s")
    options = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="tessary-smoke-")
    shots = os.path.abspath(options.shots) if options.shots else None
    if shots:
        os.makedirs(shots, exist_ok=True)

    def overall_limit(signum, frame):
        raise SmokeFailure(f"the whole run took more than {options.limit} s")

    signal.signal(signal.SIGALRM, overall_limit)
    signal.alarm(options.limit)
    try:
        wait_for_display()
    except SmokeFailure as failure:
        log(f"FAIL: {failure}")
        return 1
    program = Program(os.path.abspath(options.program), options.args.split(), workdir)
    status = 0
    try:
        run(program, workdir, shots, options.step_timeout)
        log("PASS")
    except (SmokeFailure, GLib.Error) as failure:
        log(f"FAIL: {failure}")
        status = 1
    except Exception:  # a fault of the script itself still ends the program
        log("FAIL: error in the smoke script\n" + traceback.format_exc())
        status = 1
    finally:
        signal.alarm(0)
        program.kill()
        if status:
            print("--- program output ---\n" + program.output()[-4000:], flush=True)
        shutil.rmtree(workdir, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
