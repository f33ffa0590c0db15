#!/usr/bin/env bash
# Installs what is missing, builds (warnings are errors) and runs the whole
# test suite headless, beside a throwaway PostgreSQL server of its own
# (scripts/with-postgres.sh), removed afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" -DTESSARY_WERROR=ON
export QT_QPA_PLATFORM=offscreen
cd "${BUILD_DIR:-$here/build}"
exec "$here/scripts/with-postgres.sh" ctest --output-on-failure -j"$(nproc)" "$@"
