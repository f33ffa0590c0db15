#!/usr/bin/env python3
"""The folders of src/ form a ladder: counting the `#include "folder/..."`
lines between them, no folder leans, directly or round about, on a folder
that leans back on it.
  folder_ladder.py SRC   (exit status 1 and every cycle with the include
                          lines that make it, if not; else the ladder)"""
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
below = {f: sorted(t for (s, t) in lines if s == f) for f in folders}

# Every simple cycle, each found once: from its alphabetically first folder,
# through folders after it only.
cycles = []
def walk(start, path):
    for nxt in below[path[-1]]:
        if nxt == start:
            cycles.append(path + [start])
        elif nxt > start and nxt not in path:
            walk(start, path + [nxt])
for folder in folders:
    walk(folder, [folder])

for cycle in cycles:
    print("cycle: " + " -> ".join(cycle))
    for step in zip(cycle, cycle[1:]):
        print("\n".join("  " + line for line in lines[step]))
if cycles:
    print(f"{len(cycles)} folder cycle(s) in {src}")
    sys.exit(1)

# The ladder from the top: each folder above every folder it includes.
order, placed = [], set()
while len(order) < len(folders):
    ready = [f for f in folders if f not in placed and not any(f in below[o] for o in folders if o not in placed)]
    order += ready
    placed.update(ready)
for folder in order:
    print(f"{folder:>16}: {' '.join(below[folder]) or '-'}")
print(f"no folder cycle in {src}: {len(folders)} folders, each above what it includes")
