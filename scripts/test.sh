#!/usr/bin/env bash
# Installs what is missing, builds (warnings are errors) and runs the whole
# test suite headless.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" -DTESSARY_WERROR=ON
export QT_QPA_PLATFORM=offscreen
cd "${BUILD_DIR:-$here/build}"
ctest --output-on-failure -j"$(nproc)" "$@"
