#!/usr/bin/env python3
"""Checks that every #include follows the layers of the tree.

Each folder is a layer and may include only from itself and the layers its
arrows reach (directly or through another layer):

    app             -> hybrid, scsi, scsi/transports, platform
    cli             -> hybrid, scsi, scsi/transports, scsi/sim, platform
    hybrid          -> hybrid/apm, hybrid/io, scsi, platform
    hybrid/apm      -> hybrid/io
    hybrid/io       -> platform
    scsi/transports -> scsi, platform
    scsi/sim        -> scsi, platform
    scsi            -> platform
    tools           -> platform
    tools/macfile   -> hybrid/apm

The tests and the fuzz targets may include any layer. The system's Windows
headers belong to app/, to files named *_win32.*, and to the Windows-only
test programs under tests/wine and tests/exports.

Usage: check-includes.py [ROOT]      exits 1 and names each broken rule
       check-includes.py --self-test a tree with one good and one bad include
"""
import os
import re
import sys
import tempfile

ARROWS = {
    "app": ["hybrid", "scsi", "scsi/transports", "platform"],
    "cli": ["hybrid", "scsi", "scsi/transports", "scsi/sim", "platform"],
    "hybrid": ["hybrid/apm", "hybrid/io", "scsi", "platform"],
    "hybrid/apm": ["hybrid/io"],
    "hybrid/io": ["platform"],
    "scsi/transports": ["scsi", "platform"],
    "scsi/sim": ["scsi", "platform"],
    "scsi": ["platform"],
    "platform": [],
    "tools": ["platform"],
    "tools/macfile": ["hybrid/apm"],
}
# Folders whose sources may include every layer.
FREE = ["tests", "fuzz"]
WINDOWS_HEADERS = {"windows.h", "winioctl.h", "ntddscsi.h", "commdlg.h", "io.h", "shellapi.h",
                   "winbase.h", "winnt.h", "winuser.h"}
WINDOWS_FOLDERS = ["app", "tests/wine", "tests/exports"]
SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp|rc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def reachable(layer):
    seen, todo = {layer}, [layer]
    while todo:
        for nxt in ARROWS.get(todo.pop(), []):
            if nxt not in seen:
                seen.add(nxt)
                todo.append(nxt)
    return seen


def layer_of(path):
    """The deepest layer or free folder that holds PATH (relative, with /)."""
    best = None
    for layer in list(ARROWS) + FREE:
        if (path == layer or path.startswith(layer + "/")) and (
                best is None or len(layer) > len(best)):
            best = layer
    return best


def under(path, folders):
    return any(path.startswith(folder + "/") for folder in folders)


def check(root):
    problems = []
    for folder in list(ARROWS) + FREE + ["res"]:
        top = os.path.join(root, folder)
        for directory, _, files in os.walk(top):
            for name in sorted(files):
                if not SOURCE.search(name):
                    continue
                full = os.path.join(directory, name)
                rel = os.path.relpath(full, root).replace(os.sep, "/")
                problems += check_file(root, full, rel)
    return problems


def check_file(root, full, rel):
    problems = []
    layer = layer_of(rel)
    allowed = None if layer in FREE or layer is None else reachable(layer)
    windows_ok = re.search(r"_win32[._]", rel) is not None or under(rel, WINDOWS_FOLDERS) or rel.startswith("res/")
    with open(full, encoding="utf-8", errors="replace") as source:
        for number, line in enumerate(source, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            quote, target = match.groups()
            where = f"{rel}:{number}: #include {quote}{target}{'>' if quote == '<' else quote}"
            if quote == "<":
                if target.lower() in WINDOWS_HEADERS and not windows_ok:
                    problems.append(f"{where}: Windows headers belong to app/ and *_win32 files")
                continue
            if allowed is None or not os.path.exists(os.path.join(root, target)):
                continue  # a free folder, or a header beside the file (tests' support)
            target_layer = layer_of(target)
            if target_layer in ("app", "cli") and target_layer != layer:
                problems.append(f"{where}: nothing outside {target_layer}/ includes from it")
            elif target_layer not in allowed:
                problems.append(f"{where}: {layer}/ may not include from {target_layer}/")
    return problems


def self_test():
    cases = {
        "scsi/good.cpp": ('#include "platform/p.h"\n', True),
        "scsi/bad.cpp": ('#include "hybrid/h.h"\n', False),
        "hybrid/io/bad.cpp": ('#include "hybrid/apm/m.h"\n', False),
        "hybrid/bad_window.cpp": ("#include <windows.h>\n", False),
        "hybrid/io/file_win32.cpp": ("#include <windows.h>\n", True),
        "cli/bad.cpp": ('#include "app/a.h"\n', False),
        "tests/unit/ok.cpp": ('#include "app/a.h"\n', True),
    }
    failed = 0
    for path, (text, good) in cases.items():
        with tempfile.TemporaryDirectory() as root:
            for header in ("platform/p.h", "hybrid/h.h", "hybrid/apm/m.h", "app/a.h"):
                os.makedirs(os.path.join(root, os.path.dirname(header)), exist_ok=True)
                open(os.path.join(root, header), "w").close()
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as out:
                out.write(text)
            if (not check(root)) != good:
                print(f"self-test: {path} was {'refused' if good else 'let through'}")
                failed += 1
    print(f"{len(cases) - failed} passed, {failed} failed")
    return 1 if failed else 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(os.path.abspath(root))
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
