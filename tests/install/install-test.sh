#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop and a software
# centre find there: both programs, the desktop entry (desktop-file-validate), the
# AppStream metadata (appstreamcli validate --no-net, no error or warning), the icon at
# each size and as SVG, all named by the one application id, manual pages that name
# every option and exit status tarrow-scan's --help names, the bash completion where
# bash-completion looks, the JSON schema (real output checked against it) and the
# systemd units (systemd-analyze verify).
#
#   tests/install/install-test.sh BUILD-DIR APPLICATION-ID
set -euo pipefail
build="$1"
id="$2"
work="$(mktemp -d)"
trap 'rm -rf -- "$work"' EXIT
prefix="$work/usr"

fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/tarrow bin/tarrow-scan "share/applications/$id.desktop" \
         "share/metainfo/$id.metainfo.xml" share/man/man1/tarrow.1.gz \
         share/man/man1/tarrow-scan.1.gz share/doc/tarrow/copyright share/doc/tarrow/changelog.gz; do
  [ -f "$prefix/$f" ] && [ ! -L "$prefix/$f" ] || fail "$f is not installed"
done
[ -x "$prefix/bin/tarrow" ] && [ -x "$prefix/bin/tarrow-scan" ] || fail "programs are not executable"
# A name left from before the application id would be a second, dangling identity.
left="$(find "$prefix/share" -name 'tarrow.desktop' -o -name 'tarrow.png' -o -name 'tarrow.svg' \
        -o -name 'tarrow.metainfo.xml')"
[ -z "$left" ] || fail "installed under the old name: $left"

entry="$prefix/share/applications/$id.desktop"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects $id.desktop"
for line in 'Name=Quenby' 'Exec=tarrow' "Icon=$id" "StartupWMClass=$id" 'Type=Application'; do
  grep -qxF "$line" "$entry" || fail "$id.desktop lacks $line"
done
grep -qE '^Comment=.+' "$entry" || fail "$id.desktop has no comment"
grep -qE '^Categories=.*System;' "$entry" || fail "$id.desktop is not a system utility"

# appstreamcli answers 0 on warnings too: every E: or W: line counts.
meta="$prefix/share/metainfo/$id.metainfo.xml"
report="$(appstreamcli validate --no-net "$meta" 2>&1)" || true
echo "$report"
! grep -qE '^[EW]:' <<<"$report" && grep -q 'Validation was successful' <<<"$report" ||
  fail "appstreamcli validate finds errors or warnings in $id.metainfo.xml"
version="$("$prefix/bin/tarrow-scan" --version | sed -n 's/^tarrow-scan (Quenby) //p')"
[ -n "$version" ] || fail "installed tarrow-scan does not run"
python3 - "$meta" "$id" "$version" <<'PY' || fail "$id.metainfo.xml does not describe the program"
import sys, xml.etree.ElementTree as ET
meta, app_id, version = sys.argv[1:]
c = ET.parse(meta).getroot()
def text(path):
    e = c.find(path)
    return None if e is None else (e.text or "").strip()
expected = {
    "id": app_id, "name": "Quenby", "launchable[@type='desktop-id']": app_id + ".desktop",
    "project_license": "LicenseRef-proprietary", "metadata_license": "CC0-1.0",
}
bad = {k: text(k) for k, v in expected.items() if text(k) != v}
releases = [r.get("version") for r in c.iterfind("releases/release")]
if releases[:1] != [version]:
    bad["release"] = releases
for need in ("summary", "description/p", "developer_name", "categories/category",
             "content_rating", "screenshots/screenshot/image"):
    if not text(need) and c.find(need) is None:
        bad[need] = None
if not (text("screenshots/screenshot/image") or "").startswith("https://"):
    bad["screenshot"] = text("screenshots/screenshot/image")
if bad:
    sys.exit("wrong or missing: %s" % bad)
PY

# Each icon is a PNG of the size its folder names (width and height from its header).
for size in 16 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
  read -r w h < <(od -An -tu1 -j16 -N8 "$icon" |
    awk '{ print ($1*16777216 + $2*65536 + $3*256 + $4), ($5*16777216 + $6*65536 + $7*256 + $8) }')
  [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$icon is not a PNG"
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "$icon is ${w}x${h}"
done

# The scalable icon: an SVG document of the icon's square size in pixels.
svg="$prefix/share/icons/hicolor/scalable/apps/$id.svg"
[ -f "$svg" ] || fail "no scalable icon"
head -c 200 "$svg" | grep -q '^<?xml' || fail "$svg is not XML"
grep -q '<svg width="256" height="256"' "$svg" || fail "$svg does not say its size in pixels"
grep -q '<path' "$svg" || fail "$svg draws nothing"

# The changelog's first entry is this version.
gzip -dc "$prefix/share/doc/tarrow/changelog.gz" | head -1 | grep -qF "tarrow ($version) " ||
  fail "changelog.gz does not start with version $version"

man="$work/tarrow-scan.1"
gzip -dc "$prefix/share/man/man1/tarrow-scan.1.gz" >"$man"
for opt in $("$prefix/bin/tarrow-scan" --help | grep -oE -- '--[a-z]+' | sort -u); do
  grep -qF -- "\\-\\-${opt#--}" "$man" || fail "tarrow-scan.1 does not describe $opt"
done
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
grep -qxF "ExecStart=$prefix/bin/tarrow-scan --metrics /var/lib/prometheus/node-exporter/tarrow.prom \$TARROW_SCAN_OPTIONS" \
  "$units/tarrow-scan.service" || fail "the service does not run the installed tarrow-scan"
if command -v systemd-analyze >/dev/null; then
  (cd "$units" && MANPATH="$prefix/share/man" systemd-analyze verify tarrow-scan.service tarrow-scan.timer) ||
    fail "systemd-analyze verify rejects the units"
else
  echo "install test: systemd-analyze verify skipped (no systemd)"
fi
echo "install test: all present in $prefix"
