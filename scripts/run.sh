#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tessary Configurator.
# With no serial adapter attached (and no --port given) it starts with the
# built-in demo board on COM1. Arguments are passed to the program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh"
args=("$@")
if ((${#args[@]} == 0)) && ! compgen -G "/dev/ttyUSB*" >/dev/null && ! compgen -G "/dev/ttyACM*" >/dev/null; then
  args=(--demo)
fi
cd "$here"
exec "${BUILD_DIR:-$here/build}/src/tessary-configurator" "${args[@]}"
