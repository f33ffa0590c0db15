#!/usr/bin/env bash
# The soak: CYCLES programming cycles (1000 unless given), one board or every
# board at once on 4 to 8, against tessary-boardsim with faults drawn at
# random from RANDOM-SEED (a new one unless given; it is printed), every
# claimed success checked against the board's own log, and beside them one
# window program running "Check configuration" and "Configure printer", its
# resident memory at the start and the end. Prints false successes, ports
# without a row, crashes and hangs; exit status 1 when any is not zero.
# Uses the build TESSARY_BUILD names, else build/ (built when missing).
#
#   scripts/soak.sh [CYCLES] [RANDOM-SEED]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSARY_BUILD:-$here/build}
cycles=${1:-1000}
seed=${2:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
if [[ ! -x "$build/bench/tessary-soak" ]]; then
  BUILD_DIR=$build "$here/scripts/build.sh" >/dev/null
fi
echo "soak: $cycles cycles, seed $seed, build $build" >&2
exec env QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$build/bench/tessary-soak" "$cycles" "$seed"
