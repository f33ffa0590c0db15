#!/usr/bin/env python3
"""The folders of src/ form a ladder: counting the `#include "folder/..."`
lines between them, no folder leans, directly or round about, on a folder
that leans back on it.
  folder_ladder.py SRC   (exit status 1 and a cycle with the include lines
                          that make it, if not; else the ladder from below)"""
import graphlib
import pathlib
import re
import sys

INCLUDE = re.compile(r'#\s*include\s*"([^/"]+)/[^"]*"')
src = pathlib.Path(sys.argv[1])
folders = sorted(p.name for p in src.iterdir() if p.is_dir())
lines = {}  # (from, to) -> the include lines that make the edge
for folder in folders:
    for path in sorted(p for p in (src / folder).rglob("*") if p.suffix in (".cpp", ".h")):
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            found = INCLUDE.match(line.strip())
            if found and found.group(1) in folders and found.group(1) != folder:
                lines.setdefault((folder, found.group(1)), []).append(
                    f"{path.relative_to(src.parent)}:{number}: {line.strip()}")
try:  # each folder after every folder it includes
    order = list(graphlib.TopologicalSorter({f: {t for (s, t) in lines if s == f} for f in folders}).static_order())
except graphlib.CycleError as error:
    cycle = error.args[1][::-1]  # each folder there includes the next
    print("folder cycle in " + str(src) + ": " + " -> ".join(cycle))
    for step in zip(cycle, cycle[1:]):
        print("\n".join("  " + line for line in lines[step]))
    sys.exit(1)
print(f"no folder cycle in {src}: {len(folders)} folders, each above what it includes: {' < '.join(order)}")
