#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop finds there:
# both programs, the desktop entry (desktop-file-validate), the icon at each size,
# manual pages that name every option and exit status tarrow-scan's --help names, the
# bash completion where bash-completion looks, the JSON schema (real output checked
# against it) and the systemd units (systemd-analyze verify).
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

man="$prefix/share/man/man1/tarrow-scan.1"
for opt in $("$prefix/bin/tarrow-scan" --help | grep -oE -- '--[a-z]+' | sort -u); do
  grep -qF -- "\\-\\-${opt#--}" "$man" || fail "tarrow-scan.1 does not describe $opt"
done
"$prefix/bin/tarrow-scan" --version | grep -q '^tarrow-scan (Quenby) ' || fail "installed tarrow-scan does not run"

# The man page says every exit status that --help says.
for status in $("$prefix/bin/tarrow-scan" --help | tr '\n' ' ' | sed 's/.*Exit status//' |
                grep -oE '\b[0-9]+:' | tr -d : | sort -u); do
  grep -qE "^\.B $status\$|^\\fB$status\\fR" "$man" || fail "tarrow-scan.1 does not list exit status $status"
done

# Where bash-completion looks, as its pkg-config file says (below our prefix).
if pkg-config --exists bash-completion; then
  dir="$(pkg-config --variable=completionsdir bash-completion)"
  base="$(pkg-config --variable=prefix bash-completion)"
  completion="$prefix/${dir#"$base"/}/tarrow-scan"
else
  completion="$prefix/share/bash-completion/completions/tarrow-scan"
fi
[ -f "$completion" ] || fail "no bash completion at $completion"

# The schema, and real output of the installed program on odd names against it.
schema="$prefix/share/tarrow/tarrow-scan.schema.json"
[ -f "$schema" ] || fail "the JSON schema is not installed"
python=/usr/bin/python3
[ -x "$python" ] || python=python3
if "$python" -c 'import jsonschema' 2>/dev/null; then
  "$python" "$(dirname "$0")/../cli/report_test.py" --scan "$prefix/bin/tarrow-scan" \
    --schema "$schema" --completion "$completion" json completion >/dev/null ||
    fail "installed tarrow-scan's JSON or completion"
else
  echo "install test: JSON schema check skipped (no python3-jsonschema)"
fi

# The weekly service and its timer: installed, valid, naming the installed program.
units="$prefix/lib/systemd/system"
if pkg-config --exists systemd; then
  dir="$(pkg-config --variable=systemdsystemunitdir systemd)"
  case "$dir" in /usr/*) units="$prefix/${dir#/usr/}" ;; *) units="$prefix/${dir#/}" ;; esac
fi
for unit in tarrow-scan.service tarrow-scan.timer; do
  [ -f "$units/$unit" ] || fail "$unit is not installed in $units"
done
grep -qxF "ExecStart=$prefix/bin/tarrow-scan --metrics /var/lib/prometheus/node-exporter/tarrow.prom" \
  "$units/tarrow-scan.service" || fail "the service does not run the installed tarrow-scan"
if command -v systemd-analyze >/dev/null; then
  (cd "$units" && MANPATH="$prefix/share/man" systemd-analyze verify tarrow-scan.service tarrow-scan.timer) ||
    fail "systemd-analyze verify rejects the units"
else
  echo "install test: systemd-analyze verify skipped (no systemd)"
fi
echo "install test: all present in $prefix"
