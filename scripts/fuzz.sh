#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan on)
# into build-fuzz/ and runs them.
#   scripts/fuzz.sh                 each target over its corpus in fuzz/corpus (CI)
#   scripts/fuzz.sh TARGET SECONDS  fuzz one target (cdb, replies, board) for that long,
#                                   new inputs in build-fuzz/corpus/TARGET
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-fuzz}
"$here/scripts/install-deps.sh" --with-clang
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DTESSARY_FUZZ=ON -DTESSARY_BUILD_TESTS=OFF -DTESSARY_WERROR=ON >/dev/null
targets=(cdb replies board)
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
if (($# == 0)); then
  for t in "${targets[@]}"; do
    echo "fuzz_$t over fuzz/corpus/$t"
    "$build/fuzz/fuzz_$t" -runs=0 "$here/fuzz/corpus/$t" 2>&1 | tail -1
  done
  exit 0
fi
target=$1 seconds=${2:-600}
mkdir -p "$build/corpus/$target"
exec "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
  "$build/corpus/$target" "$here/fuzz/corpus/$target"
