#!/usr/bin/env python3
"""The desktop program and the command-line tool build where there is no
POSIX: every POSIX header they include, and every header of the boards that
live on a pseudo-terminal, sits inside an `#ifdef Q_OS_UNIX` block.
  posix_guard.py FOLDER...   (exit status 1 and the offending lines if not)"""
import pathlib
import re
import sys

POSIX_ONLY = re.compile(r'#\s*include\s*[<"](unistd\.h|fcntl\.h|termios\.h|poll\.h|pty\.h|dlfcn\.h|sys/[^>"]+'
                        r'|boardsim/(demoboard|ptyboard|ptyboardthread)\.h)[>"]')
found = []
for path in sorted(p for folder in sys.argv[1:] for p in pathlib.Path(folder).rglob("*") if p.suffix in (".cpp", ".h")):
    unix = []  # per open #if: whether its branch now is a Q_OS_UNIX one
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        text = line.strip()
        if re.match(r'#\s*if', text):
            unix.append(bool(re.match(r'#\s*(ifdef\s+Q_OS_UNIX|if\s+defined\s*\(?\s*Q_OS_UNIX)\b', text)))
        elif re.match(r'#\s*(else|elif)', text) and unix:
            unix[-1] = False
        elif re.match(r'#\s*endif', text) and unix:
            unix.pop()
        elif POSIX_ONLY.match(text) and not any(unix):
            found.append(f"{path}:{number}: {text}")
print("\n".join(found + [f"{len(found)} POSIX-only include(s) outside Q_OS_UNIX in {' '.join(sys.argv[1:])}"]))
sys.exit(1 if found else 0)
