#!/usr/bin/env bash
# Runs a command (the test suite, the benchmark) beside a throwaway
# PostgreSQL server of its own (scripts/pgserver.sh), removed afterwards:
#   TESSARY_TEST_POSTGRES    its URL (user tessary, a superuser; database postgres)
#   TESSARY_TEST_PGSERVERS   the folder where a test may start servers of its own
# Where no server can be started, TESSARY_TEST_POSTGRES_SKIPPED says why and
# the command runs all the same (its PostgreSQL cases say they were skipped).
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mktemp -d "${TMPDIR:-/tmp}/tessary-pg.XXXXXX")
trap '"$here/scripts/pgserver.sh" remove "$dir"' EXIT
started=${EPOCHREALTIME/./}
if url=$("$here/scripts/pgserver.sh" start "$dir" main 2>"$dir/why"); then
  export TESSARY_TEST_POSTGRES=$url TESSARY_TEST_PGSERVERS=$dir
  ms=$(((${EPOCHREALTIME/./} - started) / 1000))
  echo "PostgreSQL server for the tests on a socket in $dir (up in $ms ms)"
else
  export TESSARY_TEST_POSTGRES_SKIPPED="no PostgreSQL server could be started: $(tr '\n' ' ' <"$dir/why")"
  echo "$TESSARY_TEST_POSTGRES_SKIPPED"
fi
"$@"
