#!/usr/bin/env python3
"""Tests tools/check-layers.py on trees of its own: clean layers pass, an include of a layer
above fails naming the file and line, and a folder that is no layer fails."""
import os
import subprocess
import sys
import tempfile

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check-layers.py")


def run(tree):
    with tempfile.TemporaryDirectory() as root:
        for path, text in tree.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as file:
                file.write(text)
        result = subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)
        return result.returncode, result.stdout.replace(root + os.sep, "")


def main():
    failures = []
    checks = []

    def expect(what, condition, output):
        checks.append(what)
        if not condition:
            failures.append(f"{what}:\n{output}")

    code, out = run({"diag/Log.cpp": '#include "platform/Clock.h"\n#include "diag/Log.h"\n',
                     "rack/Rack.cpp": '#include "host/TVstPlugIn.h"\n#include <vector>\n'})
    expect("layers that include downward pass", code == 0, out)

    code, out = run({"host/TVstPlugIn.h": '#pragma once\n\n#include "rack/SlotRecord.h"\n'})
    expect("an upward include fails", code == 1, out)
    expect("the failure names the file and the line", "host/TVstPlugIn.h:3: host includes rack" in out, out)

    code, out = run({"gadgets/Thing.cpp": "int x;\n"})
    expect("a folder that is no layer fails", code == 1 and "gadgets is not a layer" in out, out)

    code, out = run({"session/Caption.cpp": '#include <QString>\n'})
    expect("the core including Qt fails", code == 1 and "session/Caption.cpp:1: session includes Qt" in out, out)

    code, out = run({"ui/MainForm.cpp": '#include <QMainWindow>\n#include "session/RackController.h"\n'})
    expect("the window includes Qt and the core", code == 0, out)

    for failure in failures:
        print("FAILED:", failure)
    print(f"{len(checks) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
