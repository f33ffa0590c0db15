#!/usr/bin/env bash
# Builds the whole project and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ (or $BUILD_DIR) and runs the
# suite there. Any sanitizer report fails the test that produced it.
# Leak detection is off: Qt's plugin and font caches live until exit by design
# and would drown real reports. Arguments go to ctest.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$here/build-asan}
"$here/scripts/install-deps.sh"
BUILD_TYPE=${BUILD_TYPE:-Debug} "$here/scripts/build.sh" -DTESSARY_SANITIZE=ON -DTESSARY_WERROR=ON
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$BUILD_DIR"
exec "$here/scripts/with-postgres.sh" ctest --output-on-failure -j"$(nproc)" --timeout 300 "$@"
