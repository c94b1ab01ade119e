#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop finds there:
# both programs, the desktop entry (desktop-file-validate), the icon at each size and as
# SVG, and manual pages that name every option tarrow-scan's --help names.
#
#   tests/install/install-test.sh BUILD-DIR
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf -- "$work"' EXIT
prefix="$work/usr"

fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/tarrow bin/tarrow-scan share/applications/tarrow.desktop \
         share/man/man1/tarrow.1 share/man/man1/tarrow-scan.1; do
  [ -f "$prefix/$f" ] && [ ! -L "$prefix/$f" ] || fail "$f is not installed"
done
[ -x "$prefix/bin/tarrow" ] && [ -x "$prefix/bin/tarrow-scan" ] || fail "programs are not executable"

entry="$prefix/share/applications/tarrow.desktop"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects tarrow.desktop"
for line in 'Name=Quenby' 'Exec=tarrow' 'Icon=tarrow' 'Type=Application'; do
  grep -qxF "$line" "$entry" || fail "tarrow.desktop lacks $line"
done
grep -qE '^Comment=.+' "$entry" || fail "tarrow.desktop has no comment"
grep -qE '^Categories=.*System;' "$entry" || fail "tarrow.desktop is not a system utility"

# Each icon is a PNG of the size its folder names (width and height from its header).
for size in 16 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/tarrow.png"
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
  read -r w h < <(od -An -tu1 -j16 -N8 "$icon" |
    awk '{ print ($1*16777216 + $2*65536 + $3*256 + $4), ($5*16777216 + $6*65536 + $7*256 + $8) }')
  [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$icon is not a PNG"
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "$icon is ${w}x${h}"
done

# The scalable icon: an SVG document of the icon's square size in pixels.
svg="$prefix/share/icons/hicolor/scalable/apps/tarrow.svg"
[ -f "$svg" ] || fail "no scalable icon"
head -c 200 "$svg" | grep -q '^<?xml' || fail "$svg is not XML"
grep -q '<svg width="256" height="256"' "$svg" || fail "$svg does not say its size in pixels"
grep -q '<path' "$svg" || fail "$svg draws nothing"

man="$prefix/share/man/man1/tarrow-scan.1"
for opt in $("$prefix/bin/tarrow-scan" --help | grep -oE -- '--[a-z]+' | sort -u); do
  grep -qF -- "\\-\\-${opt#--}" "$man" || fail "tarrow-scan.1 does not describe $opt"
done
"$prefix/bin/tarrow-scan" --version | grep -q '^tarrow-scan (Quenby) ' || fail "installed tarrow-scan does not run"
echo "install test: all present in $prefix"
