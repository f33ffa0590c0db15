#!/usr/bin/env bash
# Builds and runs tessary-bench: every printer command against the simulated
# board over a pseudo-terminal in real time, and the desktop program's
# start-up. Prints a table. TESSARY_BENCH_RUNS sets the runs per command (5).
# Arguments name the groups of rows to run (commands, cli, boards, record,
# startup); none: all of them. The record's rows run against SQLite and a
# throwaway PostgreSQL server (scripts/with-postgres.sh).
# Under an X server (xvfb-run when there is no display) the start-up is
# measured on xcb, otherwise offscreen.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
BUILD_DIR=$build "$here/scripts/build.sh" >/dev/null
cmake --build "$build" --target tessary-bench >/dev/null
if [[ -z "${DISPLAY:-}" ]] && command -v xvfb-run >/dev/null; then
  exec "$here/scripts/with-postgres.sh" xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bench/tessary-bench" "$@"
fi
exec "$here/scripts/with-postgres.sh" "$build/bench/tessary-bench" "$@"
