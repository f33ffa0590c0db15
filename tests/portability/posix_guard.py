#!/usr/bin/env python3
"""The desktop program and the command-line tool build where there is no
POSIX: every POSIX header they include, and every header of the boards that
live on a pseudo-terminal, sits inside an `#ifdef Q_OS_UNIX` block.
  posix_guard.py FOLDER...   (exit status 1 and the offending lines if not)"""
import pathlib
import re
import sys

POSIX_ONLY = re.compile(r'#\s*include\s*[<"]('
                        r'unistd\.h|fcntl\.h|termios\.h|poll\.h|pty\.h|dlfcn\.h|sys/[^>"]+'
                        r'|boardsim/(demoboard|ptyboard|ptyboardthread|ptyrig)\.h)[>"]')
UNIX_BLOCK = re.compile(r'#\s*(ifdef\s+Q_OS_UNIX|if\s+defined\s*\(?\s*Q_OS_UNIX)\b')
OPENS = re.compile(r'#\s*if')
ENDS = re.compile(r'#\s*endif')
ELSE = re.compile(r'#\s*(else|elif)')


def offences(path):
    stack = []  # per open #if: whether it is a Q_OS_UNIX block, in its first branch
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        text = line.strip()
        if UNIX_BLOCK.match(text):
            stack.append(True)
        elif OPENS.match(text):
            stack.append(False)
        elif ELSE.match(text) and stack:
            stack[-1] = False
        elif ENDS.match(text) and stack:
            stack.pop()
        elif POSIX_ONLY.match(text) and not any(stack):
            yield f"{path}:{number}: {text}"


def main(folders):
    found = [o for folder in folders for p in sorted(pathlib.Path(folder).rglob("*"))
             if p.suffix in (".cpp", ".h") for o in offences(p)]
    for offence in found:
        print(offence)
    print(f"{len(found)} POSIX-only include(s) outside Q_OS_UNIX in {' '.join(folders)}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
