#!/usr/bin/python3
"""The dialog as a screen reader meets it, through at-spi (pyatspi), in a real X session.

Run by accessibility-test.sh, which provides the X server, the window manager, the D-Bus
session and the accessibility bus. For one run of hufpack-gui with a text file to compress:
- every control's role, name and description, the panel that holds it and what labels it;
- the status bar's text events for "Working...." and each outcome, and after a failed job its
  description (which file, and why), taken away by the next status;
- the system menu from the Menu key and Shift+F10, and the About box from it.
For a second run with a file that is not ours: "Decode!" and its outcome, heard the same way.

Every wait is for an event or a state, with a limit only so that a broken test cannot hang.

    accessibility-check.py HUFPACK-GUI WORK-FOLDER
"""

import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

GUI = sys.argv[1]
WORK = sys.argv[2]
LIMIT = 60  # seconds; far beyond what any step takes

CANNOT_OPEN = "The source file cannot be opened / destination file cannot be written"
NOTE = "Please note that the destination file will be overwritten"
NOT_OURS = "You must only decode a file encoded by this program."

# What each control is to a reader: role, name, description, the group that holds it (None for
# the dialog itself), and the names of what labels it.
CONTROLS = [
    ("push button", "Close", "", None, []),
    ("text", "Decompress source", "", "Decompress", ["Decompress", "Source"]),
    ("push button", "Browse", "Decompress source", "Decompress", ["Decompress"]),
    ("text", "Decompress destination", "", "Decompress", ["Decompress", "Destination"]),
    ("push button", "Browse", "Decompress destination", "Decompress", ["Decompress"]),
    ("push button", "Decode!", "", "Decompress", ["Decompress"]),
    ("text", "Compress source", "", "Compress", ["Compress", "Source"]),
    ("push button", "Browse", "Compress source", "Compress", ["Compress"]),
    ("text", "Compress destination", "", "Compress", ["Compress", "Destination"]),
    ("push button", "Browse", "Compress destination", "Compress", ["Compress"]),
    ("push button", "Encode!", "", "Compress", ["Compress"]),
    ("status bar", "Status", "", None, []),
]


def fail(message):
    print(f"FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def wait_for(condition, what):
    """Runs the main loop, where at-spi's events arrive, until `condition` holds."""
    deadline = time.monotonic() + LIMIT
    context = GLib.MainContext.default()
    while not condition():
        if time.monotonic() > deadline:
            fail(f"{what}: not seen in {LIMIT} s")
        GLib.timeout_add(50, lambda: False)  # so that a state is looked at again
        context.iteration(True)


def walk(accessible):
    yield accessible
    for child in accessible:
        if child is not None:
            yield from walk(child)


def labelled_by(accessible):
    names = []
    for relation in accessible.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            names += [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return sorted(names)


class Events:
    """The events of the program's status bar and its focus, as they come."""

    def __init__(self):
        self.seen = []
        pyatspi.Registry.registerEventListener(
            self.on_event,
            "object:text-changed:insert",
            "object:property-change:accessible-description",
            "object:state-changed:showing",
            "focus:",
        )

    def on_event(self, event):
        try:
            role = event.source.getRoleName()
            name = event.source.name
        except Exception:  # the source is gone already: a menu that closed
            return
        text = event.any_data if isinstance(event.any_data, str) else None
        self.seen.append((event.type, event.detail1, role, name, text))

    def has(self, kind, role, name=None, text=None, detail1=None, since=0):
        return any(
            seen[0] == kind
            and seen[2] == role
            and (name is None or seen[3] == name)
            and (text is None or seen[4] == text)
            and (detail1 is None or seen[1] == detail1)
            for seen in self.seen[since:]
        )

    def status_texts(self, since=0):
        return [
            seen[4]
            for seen in self.seen[since:]
            if seen[0] == "object:text-changed:insert" and seen[2] == "status bar"
        ]


class Program:
    """One run of hufpack-gui with `arguments`, and its dialog in the reader's tree."""

    def __init__(self, *arguments):
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        self.log = open(os.path.join(WORK, "gui.log"), "a")
        self.process = subprocess.Popen([GUI, *arguments], env=env, stdout=self.log,
                                        stderr=self.log)
        self.app = None
        self.dialog = None
        wait_for(self.find_dialog, "the dialog in the accessibility tree")
        self.window = self.activate()

    def find_dialog(self):
        if self.process.poll() is not None:
            fail(f"the program ended with status {self.process.returncode}")
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == self.process.pid:
                self.app = app
                for window in app:
                    if window is not None and window.getRoleName() == "dialog" \
                            and window.name == "Hufpack":
                        self.dialog = window
                        return True
        return False

    def activate(self):
        """Makes the dialog the active window, so that it takes keys."""
        found = []

        def active():
            ids = subprocess.run(["xdotool", "search", "--pid", str(self.process.pid), "--name",
                                  "^Hufpack$"], capture_output=True, text=True).stdout.split()
            if not ids:
                return False
            subprocess.run(["xdotool", "windowactivate", "--sync", ids[0]], capture_output=True)
            now = subprocess.run(["xdotool", "getactivewindow"], capture_output=True,
                                 text=True).stdout.strip()
            found[:] = [ids[0]]
            return now == ids[0]

        wait_for(active, "the dialog as the active window")
        return found[0]

    def control(self, role, name, description=None):
        for accessible in walk(self.dialog):
            if accessible.getRoleName() == role and accessible.name == name and (
                    description is None or accessible.description == description):
                return accessible
        fail(f"no {role} named {name!r}" + (f" for {description!r}" if description else ""))

    def has_window(self, name):
        return any(window is not None and window.name == name for window in self.app)

    def press(self, name):
        action = self.control("push button", name).queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        if "Press" not in names:
            fail(f"{name} cannot be pressed by a reader: {names}")
        action.doAction(names.index("Press"))

    def keys(self, *keys):
        subprocess.run(["xdotool", "key", "--delay", "50", *keys], check=True)

    def end_with_escape(self):
        self.keys("Escape")
        try:
            status = self.process.wait(timeout=LIMIT)
        except subprocess.TimeoutExpired:
            fail("Escape did not end the program")
        if status != 0:
            fail(f"the program ended with status {status}")


def check_the_tree(program):
    for role, name, description, group, labels in CONTROLS:
        control = program.control(role, name, description)
        parent = control.parent
        if group is None:
            if parent.getRoleName() != "dialog":
                fail(f"{name} is held by a {parent.getRoleName()}, not the dialog")
        elif parent.getRoleName() != "panel" or parent.name != group:
            fail(f"{name} ({description}) is held by {parent.getRoleName()} {parent.name!r}, "
                 f"not the {group} panel")
        if labelled_by(control) != labels:
            fail(f"{name} ({description}) is labelled by {labelled_by(control)}, not {labels}")
    # The labels say what they label, too.
    for group in ("Decompress", "Compress"):
        panel = program.control("panel", group)
        for label in panel:
            if label.getRoleName() != "label":
                continue
            targets = [relation.getTarget(0).name for relation in label.getRelationSet()
                       if relation.getRelationType() == pyatspi.RELATION_LABEL_FOR]
            if targets != [f"{group} {label.name.lower()}"]:
                fail(f"the label {label.name!r} in {group} is the label for {targets}")
    status = program.control("status bar", "Status")
    if status.queryText().getText(0, -1) != "Ready...":
        fail("the status bar does not read Ready...")
    print("PASS: names, roles, descriptions, groups and labels, as at-spi gives them")


def check_text_as_read(accessible, expected, what):
    """What a reader takes of a text: the whole of it, and in runs of like attributes that each
    hold the offset they were asked for (Orca reads a line as those runs' substrings)."""
    text = accessible.queryText()
    if text.getText(0, -1) != expected or text.characterCount != len(expected):
        fail(f"{what} reads {text.getText(0, -1)!r}, not {expected!r}")
    read = ""
    offset = 0
    while offset < len(expected):
        _, start, end = text.getAttributeRun(offset, False)
        if not start <= offset < end:
            fail(f"{what}: the attributes at {offset} are said to run from {start} to {end}")
        read += text.getText(offset, end)
        offset = end
    if read != expected:
        fail(f"{what} reads as {read!r} in its runs, not {expected!r}")


def check_the_fields_text(program, events, source):
    """Each field's text as a reader gets it; a field reached with Tab is selected whole."""
    check_text_as_read(program.control("text", "Compress source"), source, "Compress source")
    check_text_as_read(program.control("status bar", "Status"), "Ready...", "the status bar")
    program.control("push button", "Decode!").queryComponent().grabFocus()
    wait_for(lambda: events.has("focus:", "push button", "Decode!"), "the focus on Decode!")
    program.keys("Tab")
    wait_for(lambda: events.has("focus:", "text", "Compress source"), "the focus on its source")
    text = program.control("text", "Compress source").queryText()
    wait_for(lambda: text.getNSelections() == 1, "the source's text selected")
    start, end = text.getSelection(0)
    if text.getText(start, end) != source:
        fail(f"the selection of Compress source is {text.getText(start, end)!r}, not the path")
    print("PASS: a field's text and selection, as a reader reads them, are the field's text")


def run_job(program, events, destination_field, destination, button, outcome, detail):
    """Types a destination as a reader's edit does, presses the button, and waits for the
    outcome's event and its detail on the status bar."""
    status = program.control("status bar", "Status")
    since = len(events.seen)
    program.control("text", destination_field).queryEditableText().setTextContents(destination)
    wait_for(lambda: events.has("object:text-changed:insert", "status bar", text=NOTE,
                                since=since), "the overwrite note, heard")
    wait_for(lambda: status.description == "", "the note taking the detail away")
    since = len(events.seen)
    program.press(button)
    wait_for(lambda: outcome in events.status_texts(since), f"{outcome!r}, heard")
    texts = events.status_texts(since)
    if texts != ["Working....", outcome]:
        fail(f"the status bar said {texts}")
    wait_for(lambda: status.description == detail, f"the detail {detail!r}")
    if detail and not events.has("object:property-change:accessible-description",
                                 "status bar", since=since):
        fail("the detail's change was not told")
    if status.queryText().getText(0, -1) != outcome:
        fail("the status bar's text is not the outcome")


def check_the_system_menu(program, events):
    program.control("push button", "Close").queryComponent().grabFocus()
    wait_for(lambda: events.has("focus:", "push button", "Close"), "the focus on Close")
    for key in ("Menu", "shift+F10"):
        since = len(events.seen)
        program.keys(key)
        wait_for(lambda: events.has("object:state-changed:showing", "popup menu", detail1=1,
                                    since=since), f"the system menu from {key}")
        # From no item, Up goes to the last: the About entry.
        program.keys("Up")
        wait_for(lambda: events.has("focus:", "menu item", "About....", since=since),
                 f"About.... in the menu from {key}")
        program.keys("Return")
        wait_for(lambda: program.has_window("About...."), f"the About box, from {key}")
        program.keys("Escape")
        wait_for(lambda: not program.has_window("About...."), "the About box closing")
        wait_for(lambda: events.has("focus:", "push button", "Close", since=since),
                 "the focus back on Close")
    print("PASS: the Menu key and Shift+F10 open the system menu, and its About box")


def main():
    notes = os.path.join(WORK, "notes.txt")
    with open(notes, "w") as text:
        text.write("A line of text for the dialog to compress.\n" * 2000)
    bad = os.path.join(WORK, "bad.huf")
    with open(bad, "w") as text:
        text.write("not a compressed file")
    events = Events()

    program = Program(notes)
    check_the_tree(program)
    check_the_fields_text(program, events, notes)
    run_job(program, events, "Compress destination", os.path.join(WORK, "notes.huf"),
            "Encode!", "Done!", "")
    if not os.path.getsize(os.path.join(WORK, "notes.huf")):
        fail("Encode! wrote nothing")
    missing = os.path.join(WORK, "nowhere", "notes.huf")
    run_job(program, events, "Compress destination", missing, "Encode!", CANNOT_OPEN,
            f"{missing}: No such file or directory")
    check_text_as_read(program.control("text", "Compress destination"), missing,
                       "Compress destination")
    check_text_as_read(program.control("status bar", "Status"), CANNOT_OPEN, "the status bar")
    print("PASS: Working.... and each outcome heard from the status bar, with the failure's "
          "detail, which the next status takes away")
    check_the_system_menu(program, events)
    program.end_with_escape()

    program = Program("--", bad)
    run_job(program, events, "Decompress destination", os.path.join(WORK, "restored.txt"),
            "Decode!", NOT_OURS, f"{bad}: not a file this program wrote")
    program.end_with_escape()
    print("PASS: after Decode!, the outcome and its detail heard without moving the focus")


main()
