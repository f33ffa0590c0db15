#!/bin/sh
# The launcher creates the data folder, starts the program next to it inside
# that folder and hands the arguments over unchanged.
set -eu
launcher=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"
cp "$launcher" "$work/bin/tessary-configurator-launch"
cat > "$work/bin/tessary-configurator" <<'FAKE'
#!/bin/sh
pwd > "$OUT"
for a in "$@"; do echo "$a" >> "$OUT"; done
FAKE
chmod +x "$work/bin/tessary-configurator" "$work/bin/tessary-configurator-launch"

fail() { echo "FAIL: $*"; exit 1; }

# With XDG_DATA_HOME set.
OUT=$work/out1 XDG_DATA_HOME=$work/xdg "$work/bin/tessary-configurator-launch" --port "COM3=/dev/ttyUSB0" --demo
# The folder it starts in (created, as the start proves), then the arguments, one a line.
printf '%s\n' "$work/xdg/tessary-configurator" --port "COM3=/dev/ttyUSB0" --demo | cmp -s - "$work/out1" \
  || fail "started as: $(cat "$work/out1")"

# Without it: the default under HOME.
OUT=$work/out2 HOME=$work/home XDG_DATA_HOME= "$work/bin/tessary-configurator-launch"
[ "$(sed -n 1p "$work/out2")" = "$work/home/.local/share/tessary-configurator" ] || fail "default folder $(sed -n 1p "$work/out2")"
echo "PASS"
