#!/usr/bin/env bash
# Installs what is missing, builds (warnings are errors) and runs the whole
# test suite headless.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" -DTESSARY_WERROR=ON
export QT_QPA_PLATFORM=offscreen
cd "${BUILD_DIR:-$here/build}"
# A few tests run in real time over pseudo-terminals; on a loaded machine one
# may miss a wait, so a failed test gets one more run (and the log shows both).
ctest --output-on-failure -j"$(nproc)" --repeat until-pass:2 "$@"
