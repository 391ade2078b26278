#!/usr/bin/env python3
"""Checks the operator's message table against the program's own texts, both ways.

usage: check_messages.py SOURCE_ROOT GUIDE [OTHER_GUIDE...]

The program's texts are the string literals of the files in SOURCES (adjacent
literals joined, as the compiler joins them) that contain a space or end in a
full stop, or are box titles, less those in NOT_SHOWN; and the launcher's
message. The guides' texts are the first cells of every table whose first
header cell is "Message": code spans, joined by a line feed where <br> stands
between them. A placeholder, %1 or %d in the code and a word in angle brackets
in a guide, stands for anything.

Every text in a guide must be one the program can show (a table row may give an
example, with the placeholder filled in); every text the program can show must
be in GUIDE, the operator's guide."""
import pathlib
import re
import sys

# Where the texts an operator can see are made.
SOURCES = [
    "app/main.cpp", "app/mainwindow.cpp", "app/launchermessage.cpp",
    "console/updater.cpp", "console/flowcontrol.cpp", "console/mqprogressdialog.cpp",
    "workers/checkversionthread.cpp", "workers/updateversionthread.cpp",
    "workers/restorethread.cpp", "target_firmware/firmwarecopies.cpp",
    "device/devicelibrary.cpp", "platform/devicelibrarylocation.cpp",
    "platform/devicelibrarylocation_linux.cpp", "platform/devicelibrarylocation_none.cpp",
    "platform/libraryfile_linux.cpp", "platform/libraryfile_windows.cpp",
    "platform/privatefolder_linux.cpp", "platform/privatefolder_windows.cpp",
    "platform/regularfile.cpp", "platform/regularfile_linux.cpp",
    "platform/regularfile_windows.cpp", "platform/sessionguard_windows.cpp",
    "platform/windowsystemchoice_linux.cpp",
]
LAUNCHER = "packaging/qd740n-updater.in"
TITLES = {"Warning"}
# Literals of those files that an operator never sees as a message: the
# standard error's prefix, a style sheet, the checksum list's syntax, a stand-in
# for a path, and the buttons (shown in the guide's picture of the window).
NOT_SHOWN = {
    "qd740n-updater: %s\n", "SHA256 (", ") = ", ": ", "another file",
    "  Check Versions  ", "  Update  ", "  Restore  ", "Check Versions",
    # words that fill a placeholder of a sentence in the table
    "64 KiB", "256 MiB", "firmware folder", "checksum list",
}
NOT_SHOWN_PREFIXES = ("QTextEdit {",)

TOKENS = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])+\'|[^"/\']+|/', re.S)
PLACEHOLDER = "\x00"


def literals(text):
    """The C++ string literals of a source, adjacent ones joined."""
    text = re.sub(r"^\s*#\s*include[^\n]*", "", text, flags=re.M)
    found, current = [], None
    for token in TOKENS.finditer(text):
        token = token.group(0)
        if token.startswith('"'):
            value = token[1:-1].encode("latin-1", "backslashreplace").decode("unicode_escape")
            current = value if current is None else current + value
        elif not (token.isspace() or token.startswith(("//", "/*"))) and current is not None:
            found.append(current)
            current = None
    return found + ([current] if current is not None else [])


def shown(text):
    return text not in NOT_SHOWN and not text.startswith(NOT_SHOWN_PREFIXES) and (
        text in TITLES or " " in text or re.search(r"[A-Za-z]\.$", text))


def program_texts(root):
    texts = {}
    for name in SOURCES:
        for text in literals((root / name).read_text(encoding="utf-8")):
            if shown(text):
                texts.setdefault(re.sub(r"%[0-9ds]", PLACEHOLDER, text), name)
    for text in re.findall(r'message="([^"]*)"', (root / LAUNCHER).read_text(encoding="utf-8")):
        texts.setdefault(re.sub(r"\$\{?\w+\}?", PLACEHOLDER, text), LAUNCHER)
    return texts


def guide_texts(path):
    """(line number, text) of each Message table row."""
    texts, in_table = [], False
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not line.startswith("|"):
            in_table = False
            continue
        cell = line.split("|")[1].strip()
        if cell == "Message":
            in_table = True
        elif in_table and not set(cell) <= set("-: "):
            spans = re.findall(r"`([^`]*)`", cell)
            if not spans or re.sub(r"`[^`]*`|<br>", "", cell).strip():
                texts.append((number, "(not code spans joined by <br>) " + cell))
            else:
                texts.append((number, re.sub(r"<[a-z][a-z ]*>", PLACEHOLDER, "\n".join(spans))))
    return texts


def instance_of(text, template):
    pattern = ".+".join(re.escape(part) for part in template.split(PLACEHOLDER))
    return re.fullmatch(pattern, text, re.S) is not None


def main():
    root, guides = pathlib.Path(sys.argv[1]), [pathlib.Path(p) for p in sys.argv[2:]]
    program = program_texts(root)
    problems = []
    for guide in guides:
        for number, text in guide_texts(guide):
            if text not in program and not any(instance_of(text, t) for t in program):
                problems.append(f"{guide}:{number}: the program never shows {text!r}")
    listed = {text for _, text in guide_texts(guides[0])}
    for text, source in sorted(program.items()):
        if text not in listed:
            problems.append(f"{source}: {text!r} is not in {guides[0]}'s message tables; "
                            "add it there, or to NOT_SHOWN in this script if no operator sees it")
    for problem in problems:
        print(problem.replace(PLACEHOLDER, "<...>"))
    print(f"{len(program)} texts of the program, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
