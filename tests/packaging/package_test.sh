#!/bin/sh
# Makes the Debian packages from the finished build, once, and checks them as
# Debian would: lintian says nothing about either; the programs are stripped
# and the debug package holds each one's symbols under its build id; the
# manual pages, the completions, the copyright and the changelog are where
# man, the shells and Debian look for them.
#   package_test.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/tessary-configurator_*.deb)
ddeb=$(ls "$work"/tessary-configurator-dbgsym_*.ddeb)
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes; $(basename "$ddeb"): $(stat -c %s "$ddeb") bytes"

# Tags go to standard output; lintian's note on running as root to standard error.
lintian --fail-on error,warning "$deb" "$ddeb" >"$work/lintian.txt" || true
[ ! -s "$work/lintian.txt" ] || { cat "$work/lintian.txt"; fail "lintian has something to say"; }

dpkg-deb -x "$deb" "$work/root"
dpkg-deb -x "$ddeb" "$work/root"
for path in usr/share/man/man1/tessary.1.gz usr/share/man/man1/tessary-configurator.1.gz \
            usr/share/man/man1/tessary-configurator-launch.1.gz usr/share/man/man1/tessary-boardsim.1.gz \
            usr/share/bash-completion/completions/tessary usr/share/zsh/vendor-completions/_tessary \
            usr/share/fish/vendor_completions.d/tessary.fish \
            usr/share/doc/tessary-configurator/copyright usr/share/doc/tessary-configurator/changelog.gz; do
  [ -f "$work/root/$path" ] || fail "the package has no /$path"
done
grep -q '^License: LicenseRef-proprietary' "$work/root/usr/share/doc/tessary-configurator/copyright" ||
  fail "the copyright file names no license"
for program in tessary tessary-configurator tessary-boardsim; do
  binary=$work/root/usr/bin/$program
  file "$binary" | grep -q ', stripped' || fail "$program is not stripped"
  id=$(readelf -n "$binary" 2>/dev/null | sed -n 's/.*Build ID: *//p')
  symbols=$work/root/usr/lib/debug/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug
  [ -n "$id" ] && [ -f "$symbols" ] || fail "no debug symbols for $program (build id '$id')"
  readelf -S "$symbols" 2>/dev/null | grep -q '\.debug_info' || fail "the symbols of $program have no .debug_info"
done
echo "lintian clean; stripped programs, their symbols in the debug package"
