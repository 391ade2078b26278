#!/usr/bin/python3
"""Reads and drives qd740n-updater through its accessibility tree (AT-SPI),
as a screen reader does: windows, buttons and the log found by role and
accessible name, buttons pressed through their Action interface, the log
read paragraph by paragraph with its colours through the Text interface.

One command per call, for e2e.sh. A command that waits polls the live tree
until its condition holds and exits with status 1 and the reason on standard
error when --timeout runs out or the program ends first.

Debian's python3-pyatspi works only with Debian's own /usr/bin/python3.
"""

import argparse
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

MAIN_WINDOW = "QD740N Firmware Update 4.5.6"
BUSY_DIALOG = "Please Wait"
BOX = "Warning"
LOG = "Log"
CONSOLE = (("check", "Check Versions"), ("update", "Update"), ("restore", "Restore"))


class Failure(Exception):
    pass


def has(accessible, state):
    return accessible.getState().contains(state)


def enabled(accessible):
    return has(accessible, pyatspi.STATE_ENABLED) and has(accessible, pyatspi.STATE_SENSITIVE)


def extents(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def find(root, role, name):
    return pyatspi.findDescendant(
        root, lambda a: a is not None and a.getRole() == role and a.name == name)


class Program:
    """One running copy of the program, told apart from any other by its process id."""

    def __init__(self, pid, timeout):
        self.pid = pid
        self.timeout = timeout

    def alive(self):
        try:
            with open(f"/proc/{self.pid}/stat", encoding="ascii") as stat:
                return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
        except (OSError, IndexError):
            return False

    def wait(self, what, condition):
        """Polls condition() until it returns something truthy, and returns that:
        None, False and an empty list or text mean "not yet". Errors while a window
        comes or goes count as "not yet" too; the last one is named on timeout."""
        deadline = time.monotonic() + self.timeout
        last_error = None
        while True:
            try:
                result = condition()
                if result:
                    return result
            except Exception as error:  # pylint: disable=broad-except
                last_error = error
            if not self.alive():
                raise Failure(f"the program ended while waiting for {what}")
            if time.monotonic() > deadline:
                raise Failure(f"timed out after {self.timeout:g}s waiting for {what}"
                              + (f" (last error: {last_error})" if last_error else ""))
            time.sleep(0.1)

    def app(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.get_process_id() == self.pid:
                return app
        return None

    def windows(self, role=None, name=None):
        """The program's top-level windows on screen."""
        app = self.app()
        if app is None:
            return []
        return [w for w in app if w is not None and has(w, pyatspi.STATE_SHOWING)
                and (role is None or w.getRole() == role) and (name is None or w.name == name)]

    def main_window(self):
        windows = self.windows(pyatspi.ROLE_FRAME, MAIN_WINDOW)
        return windows[0] if windows else None

    def button(self, name):
        window = self.main_window()
        return find(window, pyatspi.ROLE_PUSH_BUTTON, name) if window else None

    def log(self):
        window = self.main_window()
        return find(window, pyatspi.ROLE_TEXT, LOG) if window else None

    def boxes(self, title=BOX):
        return self.windows(pyatspi.ROLE_ALERT, title)


def colour(text, offset):
    """The fg-color text attribute at offset ("34,177,76"), or "-" when the
    paragraph has the log's default colour."""
    for attribute in text.getAttributeRun(offset, False)[0]:
        key, _, value = attribute.partition(":")
        if key == "fg-color":
            return value
    return "-"


def paragraphs(log):
    """The log as the operator reads it: (colour, text) per paragraph."""
    text = log.queryText()
    result, offset = [], 0
    for paragraph in text.getText(0, -1).split("\n"):
        result.append((colour(text, offset) if paragraph else "-", paragraph))
        offset += len(paragraph) + 1
    return result


def press(button):
    action = button.queryAction()
    for index in range(action.nActions):
        if action.getName(index) == "Press":
            if not action.doAction(index):
                raise Failure(f'the button "{button.name}" refused its Press action')
            return
    raise Failure(f'the button "{button.name}" offers no Press action')


def cmd_window(program, _args):
    """Waits for the main window and its three buttons; prints the window's x y width height."""
    def ready():
        window = program.main_window()
        if window is None or any(program.button(name) is None for _, name in CONSOLE):
            return None
        return window
    window = program.wait(f'the window "{MAIN_WINDOW}" with its buttons', ready)
    print(*extents(window))


def cmd_extents(program, args):
    """Prints x y width height of a button of the main window."""
    button = program.wait(f'the button "{args.name}"', lambda: program.button(args.name))
    print(*extents(button))


def cmd_console(program, _args):
    """Prints which of the three buttons and the log are enabled: check=on update=off ..."""
    def states():
        parts = [f"{key}={'on' if enabled(program.button(name)) else 'off'}"
                 for key, name in CONSOLE]
        parts.append(f"log={'on' if enabled(program.log()) else 'off'}")
        return " ".join(parts)
    print(program.wait("the console's buttons and log", states))


def cmd_press(program, args):
    """Presses a button as a screen reader user would: a button of the main window once
    it is enabled and no other window of the program is up (the busy dialog and the
    boxes are modal), a button of a Warning box once that box is up."""
    def pressable():
        for box in program.boxes():
            button = find(box, pyatspi.ROLE_PUSH_BUTTON, args.name)
            if button is not None:
                return button
        button = program.button(args.name)
        blocked = any(w.name != MAIN_WINDOW for w in program.windows())
        return button if button is not None and enabled(button) and not blocked else None
    press(program.wait(f'the button "{args.name}" to be enabled and free to press', pressable))


def cmd_wait_flow(program, args):
    """Waits until the busy dialog is gone; call it once the flow has been seen to start.
    With --shot, takes a screenshot the first time the dialog is seen. Prints whether it was."""
    seen = False

    def gone():
        nonlocal seen
        if not program.windows(pyatspi.ROLE_DIALOG, BUSY_DIALOG):
            return True
        if not seen:
            seen = True  # one try: a failed shot is no reason to wait on
            if args.shot:
                subprocess.run(["import", "-window", "root", args.shot], check=False)
        return False
    program.wait(f'the busy dialog "{BUSY_DIALOG}" to close', gone)
    print("seen" if seen else "too quick to see")


def cmd_log(program, _args):
    """Prints the log, one paragraph a line: its colour (r,g,b or -), a tab, its text."""
    for paint, text in program.wait("the log", lambda: paragraphs(program.log())):
        print(f"{paint}\t{text}")


def cmd_wait_log(program, args):
    """Waits until some paragraph of the log reads TEXT, in COLOUR when given."""
    what = f'the log line "{args.text}"' + (f" in {args.colour}" if args.colour else "")
    program.wait(what, lambda: any(
        text == args.text and args.colour in (None, paint)
        for paint, text in paragraphs(program.log())))


def cmd_box(program, args):
    """Waits for the Warning box (or the box titled TITLE) and prints its message as a
    screen reader reads it; fails when more than one is up. With --alone SECONDS, also
    watches that long that no second box comes: a check that something does not happen
    has no event to wait for, only a bounded time."""
    title = args.title or BOX
    boxes = program.wait(f'the "{title}" box', lambda: program.boxes(title))
    watch_until = time.monotonic() + float(args.alone or 0)
    while len(boxes) == 1 and time.monotonic() < watch_until:
        time.sleep(0.05)
        try:
            boxes = program.boxes(title) or boxes  # a failed read is no box less
        except Exception:  # pylint: disable=broad-except
            pass
    if len(boxes) != 1:
        raise Failure(f'{len(boxes)} "{title}" boxes are shown')

    def message():
        # Looked up afresh each time: a box just shown may not have its label yet.
        shown = program.boxes(title)
        return shown and pyatspi.findDescendant(
            shown[0], lambda a: a is not None and a.getRole() == pyatspi.ROLE_LABEL)
    print(program.wait("the box's message", message).name)


def cmd_answer(program, args):
    """Presses BUTTON in the Warning box and waits for the box to close."""
    def button():
        # Looked up afresh each time: a box just shown may not have its buttons yet.
        shown = program.boxes()
        return shown and find(shown[0], pyatspi.ROLE_PUSH_BUTTON, args.name)
    press(program.wait(f'the "{BOX}" box with its button "{args.name}"', button))
    try:
        program.wait(f'the "{BOX}" box to close after "{args.name}"', lambda: not program.boxes())
    except Failure:
        # A program that was asked to close while its question was up ends
        # once it is answered, and its box with it; the road checks how it ended.
        if program.alive():
            raise


def cmd_watch_log(program, args):
    """Writes every text added to the log to FILE (a paragraph break as a line feed) until
    the program has ended: the lines of a program that closes itself right after writing
    them are kept. Prints "ready" once listening."""
    log = program.wait("the log", program.log)
    out = open(args.file, "w", encoding="utf-8")  # pylint: disable=consider-using-with

    def added(event):
        if event.source == log:
            out.write(str(event.any_data).replace("\u2029", "\n"))
            out.flush()

    ended = []

    def stop_after_end():
        # A further second after the end, for events still on their way.
        if not program.alive():
            ended.append(time.monotonic())
        if ended and time.monotonic() - ended[0] > 1:
            pyatspi.Registry.stop()
            return False
        return True
    pyatspi.Registry.registerEventListener(added, "object:text-changed:insert")
    GLib.timeout_add(200, stop_after_end)
    print("ready", flush=True)
    pyatspi.Registry.start()


def dump(accessible, depth, out):
    state = accessible.getState()
    flags = [flag for flag, on in (("disabled", not enabled(accessible)),
                                   ("hidden", not state.contains(pyatspi.STATE_SHOWING))) if on]
    name = accessible.name.replace("\n", "\\n")
    print(f"{'  ' * depth}[{accessible.getRoleName()}] \"{name}\""
          + (f" ({', '.join(flags)})" if flags else ""), file=out)
    for child in accessible:
        if child is not None:
            dump(child, depth + 1, out)


def cmd_dump(program, _args):
    """Prints the program's tree: role, accessible name, and whether disabled or hidden."""
    dump(program.wait("the program on the accessibility bus", program.app), 0, sys.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", 1)[0])
    parser.add_argument("--pid", type=int, required=True, help="the program's process id")
    parser.add_argument("--timeout", type=float, default=60, help="seconds any wait may take")
    commands = parser.add_subparsers(dest="command", required=True)
    for name, function, arguments in (
            ("window", cmd_window, ()), ("extents", cmd_extents, ("name",)),
            ("console", cmd_console, ()), ("press", cmd_press, ("name",)),
            ("wait-flow", cmd_wait_flow, ("--shot",)), ("log", cmd_log, ()),
            ("wait-log", cmd_wait_log, ("text", "--colour")),
            ("box", cmd_box, ("--alone", "--title")),
            ("answer", cmd_answer, ("name",)), ("watch-log", cmd_watch_log, ("file",)),
            ("dump", cmd_dump, ())):
        command = commands.add_parser(name, help=" ".join(function.__doc__.split()))
        for argument in arguments:
            command.add_argument(argument)
        command.set_defaults(function=function)
    args = parser.parse_args()
    try:
        args.function(Program(args.pid, args.timeout), args)
    except Failure as failure:
        print(f"a11y {args.command}: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
