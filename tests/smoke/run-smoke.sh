#!/bin/bash
# Runs the desktop smoke test: a virtual X display (Xvfb), a private session
# bus with the accessibility bus on it, and smoke.py driving the program.
#   run-smoke.sh PROGRAM
# Exit status 77 when a tool the test needs is missing (CTest: skipped).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [[ "${1:-}" != --inside ]]; then
  for tool in xvfb-run dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
  # -a picks a free display number. -noreset: the server must not restart
  # when its first clients (the accessibility bus, which sets a property on
  # the root window) disconnect, or it refuses the program while it does.
  exec timeout -k 5 115 xvfb-run -a -n $((200 + RANDOM % 600)) -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
    dbus-run-session -- "$0" --inside "$@"
fi
shift

# Inside the session: the accessibility bus is started now, and answers,
# before the program looks for it.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
/usr/libexec/at-spi-bus-launcher --launch-immediately &
launcher=$!
trap 'kill $launcher 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
  sleep 0.1
done
/usr/bin/python3 "$here/smoke.py" "$@"
