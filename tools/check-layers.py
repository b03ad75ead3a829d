#!/usr/bin/env python3
"""Checks that the folders of src/ are layers: a file includes only headers of its own
folder or of folders below it in LAYERS. Prints each offending include as file:line and
exits 1; exits 0 when the layers hold.

usage: tools/check-layers.py [SRC_FOLDER]   (default: src/ beside this script)
"""
import os
import re
import sys

# Bottom to top. A folder may include the folders listed before it, never one after it.
LAYERS = [
    "platform",  # the thin OS layer: clocks, libraries, fault guard, files, threads
    "diag",      # log, debugger output, per-opcode limits
    "vst",       # the VST 2.x ABI and its names
    "media",     # audio and MIDI files
    "persist",   # INI files, path forms, application settings
    "midi",      # MIDI events, routes, MidiLock, device backends
    "model",     # the slot record and the plain data the rack is made of
    "host",      # plug-in loader, dispatcher, host callback, preset files
    "audio",     # audio drivers and the driver host
    "rack",      # the engine: rack, block processing, engine control, MIDI layer
    "presets",   # preset list and program modes
    "project",   # plug-in profiles and project slot keys
    "session",   # the rack controller, its idle duties, projects
    "remote",    # OSC remote control and the session manager's client
    "ui",        # the window (Qt)
    "app",       # the program: command line, headless, render, the window's start
]

INCLUDE = re.compile(r'^\s*#\s*include\s*"([A-Za-z0-9_]+)/')
# A Qt header: <QWidget>, <QtCore/QString>, "qwidget.h" and the like.
QT_INCLUDE = re.compile(r'^\s*#\s*include\s*[<"](Q[A-Za-z]|q[a-z]+\.h)')
# The first layer that may include Qt; the core below it never does.
FIRST_QT_LAYER = "ui"


def check(src):
    rank = {name: index for index, name in enumerate(LAYERS)}
    problems = []
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in rank:
            problems.append(f"{path}: the folder {folder} is not a layer; add it to LAYERS in {__file__}")
            continue
        for root, _, files in os.walk(path):
            for name in sorted(files):
                if not name.endswith((".h", ".hpp", ".cpp", ".cc")):
                    continue
                file = os.path.join(root, name)
                with open(file, encoding="utf-8", errors="replace") as text:
                    for number, line in enumerate(text, 1):
                        if rank[folder] < rank[FIRST_QT_LAYER] and QT_INCLUDE.match(line):
                            problems.append(f"{file}:{number}: {folder} includes Qt, which only the window may")
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = match.group(1)
                        if target not in rank or target == folder:
                            continue
                        if rank[target] > rank[folder]:
                            problems.append(f"{file}:{number}: {folder} includes {target}, a layer above it")
    return problems


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    problems = check(os.path.normpath(src))
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) break the layers (bottom to top: {' < '.join(LAYERS)})")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
