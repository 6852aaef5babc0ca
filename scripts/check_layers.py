#!/usr/bin/env python3
"""Checks that the source folders include each other only downwards.

Layers, bottom to top; a folder may include its own layer and those below it. On top of that:
the two halves of the trip folder meet only in trip_format/ (recording/ writes trips and includes
neither the archive nor the journal, the archive reads them without the writer), the camera needs
nothing of the archive, the trip tool uses only the archive side, and SQLite is seen by the
archive alone. Prints every include that breaks a rule; exit status 1 when there is one.
"""

import pathlib
import re
import sys

LAYERS = ["platform", "media", "position", "journal", "settings", "trip_format", "recording",
          "archive", "camera", "review", "app"]

# (folder the file lies in, what it may not include): the layer order alone allows these.
FORBIDDEN = [
    ("recording", "archive/"),
    ("recording", "journal/"),
    ("archive", "recording/"),
    ("camera", "archive/"),
    ("tools/trips", "recording/"),
]

INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')


def sources(root):
    for path in sorted(root.rglob("*")):
        if path.suffix in (".h", ".cpp") and "build" not in path.relative_to(root).parts:
            yield path


def faults_of(root, path):
    relative = path.relative_to(root).as_posix()
    folder = relative.split("/")[0]
    faults = []
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        included = match.group(1)
        where = f"{relative}:{number}: {included}"
        if included == "sqlite3.h" and folder != "archive":
            faults.append(f"{where}: SQLite belongs to archive/ only")
        target = included.split("/")[0]
        if folder in LAYERS and target in LAYERS and "/" in included:
            if LAYERS.index(target) > LAYERS.index(folder):
                faults.append(f"{where}: {folder}/ may not include the higher {target}/")
        for owner, banned in FORBIDDEN:
            if (relative.startswith(owner + "/") and included.startswith(banned)):
                faults.append(f"{where}: {owner}/ may not include {banned}")
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    faults = [fault for path in sources(root) if path.relative_to(root).parts[0] in
              LAYERS + ["tools"] for fault in faults_of(root, path)]
    for fault in faults:
        print(fault)
    print(f"{len(faults)} include(s) against the layers")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
