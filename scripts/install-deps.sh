#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need,
# and only those that are missing. Safe to run again and again.
set -euo pipefail

packages=(
  build-essential cmake
  qt6-base-dev qt6-serialport-dev qt6-svg-dev libqt6svg6
  # the production record: Qt SQL's SQLite and PostgreSQL drivers, and a
  # PostgreSQL server for the tests (scripts/with-postgres.sh)
  libqt6sql6-sqlite libqt6sql6-psql postgresql
  # desktop smoke test and screenshots
  xvfb xauth dbus at-spi2-core python3-pyatspi
  # the package test (lintian, dpkg-deb, the manual pages through man) and
  # the completions run in the shells they are for
  lintian man-db zsh fish
  # the font the windows are measured in (their layout test: room for every caption)
  fonts-dejavu-core
)
if [[ "${1:-}" == "--with-clang" ]]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
