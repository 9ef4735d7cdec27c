#!/usr/bin/env python3
"""Checks that the libraries include one way only, and that Qt stays in the window's layers.

Each source file belongs to a layer; it may include the project's headers from its own top folder
and from layers below it, never from a layer above or beside it (the two workers, and the two
pages, don't include each other). Qt headers are allowed only
from widgets/ up. Exits 1 and lists every offending include.
"""
import re
import subprocess
import sys

# From the bottom up. The two workers share a floor and don't see each other; so do the pages.
LAYERS = [
    ("text", ["text/"]),
    ("res", ["res/"]),
    ("probe", ["probe/"]),
    ("run", ["run/"]),
    ("settings", ["settings/"]),
    ("workers", ["trace/", "ping/"]),
    ("monitor", ["monitor/"]),
    ("cli", ["cli/"]),
    ("widgets", ["widgets/"]),
    ("pages", ["trace/trace_route_page.", "ping/ping_page.", "monitor/window/"]),
    ("app", ["app/"]),
]
FIRST_QT_LAYER = "widgets"
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
QT_HEADER = re.compile(r"^Q[A-Za-z]+(/|$)")


def layer_of(path):
    """The layer's index, or None for files outside the libraries (tests, bench, tools)."""
    found = None
    for index, (_, prefixes) in enumerate(LAYERS):
        for prefix in prefixes:
            # The longest prefix wins: the pages' files sit in the workers' folders.
            if path.startswith(prefix) and (found is None or len(prefix) > found[1]):
                found = (index, len(prefix))
    return None if found is None else found[0]


def main():
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], capture_output=True, text=True,
                           check=True).stdout.split()
    qt_floor = [name for name, _ in LAYERS].index(FIRST_QT_LAYER)
    faults = []
    for path in files:
        own = layer_of(path)
        if own is None:
            continue
        with open(path, encoding="utf-8", errors="replace") as source:
            text = source.read()
        for kind, header in INCLUDE.findall(text):
            if kind == "<":
                if QT_HEADER.match(header) and own < qt_floor:
                    faults.append(f"{path}: <{header}>: Qt below {FIRST_QT_LAYER}/")
                continue
            target = layer_of(header)
            if target is None:
                continue
            if target == own and header.split("/")[0] == path.split("/")[0]:
                continue
            if target >= own:
                where = "beside" if target == own else "above"
                faults.append(f'{path}: "{header}": {LAYERS[own][0]} may not include a header '
                              f"{where} it ({LAYERS[target][0]})")
    for fault in faults:
        print(fault)
    if faults:
        return 1
    print(f"layers: {len(files)} files, every include runs down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
