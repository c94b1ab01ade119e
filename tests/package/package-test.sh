#!/usr/bin/env bash
# The Debian package, as cpack -G DEB makes it from the build.
#
#   tests/package/package-test.sh BUILD-DIR APPLICATION-ID            build and check it
#   tests/package/package-test.sh BUILD-DIR APPLICATION-ID --install  ... then install it
#
# Always: the package holds the programs and the desktop files under /usr, owned by root;
# its dependencies were computed (the Qt and C libraries the programs link); both
# programs are hardened; lintian finds no error. With --install, only as root on a
# machine that can be thrown away (CI): apt-get installs it with what it depends on,
# tarrow-scan --version runs and the window opens from /usr/bin on Xvfb; then the
# package and every package the installation brought are purged, and no file of it may
# be left.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
id="$2"
install="${3:-}"
work="$(mktemp -d)"
chmod 755 "$work" # apt's sandbox user reads the package from here
installed_by_us=""
brought="$work/brought" # the packages the installation adds, tarrow among them

fail() { echo "package test: $*" >&2; exit 1; }

installed() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'; }

# Purges what this run installed, and nothing else: the packages apt-get said it would
# add (not a before-and-after difference, which would take in what others install
# meanwhile).
purge_brought() {
  local p present=()
  while IFS= read -r p; do
    if dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^[ir]'; then
      present+=("$p")
    fi
  done <"$brought"
  [ ${#present[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${present[@]}" >"$work/purge.log" 2>&1
}

cleanup() {
  [ -z "$installed_by_us" ] || purge_brought || true
  rm -rf -- "$work"
}
trap cleanup EXIT

if [ "$install" = --install ]; then
  # Checked before anything is built: a run that may not install should cost nothing.
  [ "$(id -u)" -eq 0 ] || fail "--install needs root (it installs the package into the system)"
  ! installed tarrow || fail "a package tarrow is installed already; not touching it"
  [ ! -e /usr/bin/tarrow ] && [ ! -e /usr/bin/tarrow-scan ] ||
    fail "/usr/bin/tarrow or tarrow-scan exists already; not overwriting it"
fi

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
debs=("$work"/out/tarrow_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single tarrow_*.deb"
deb="${debs[0]}"
echo "package: $(basename "$deb")"

# ---- what the package holds ------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarrow ] || fail "package name $(field Package)"
depends="$(field Depends)"
echo "Depends: $depends"
names="$(tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')"
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libmount1 libwayland-client0; do
  grep -qxF "$lib" <<<"$names" || fail "Depends does not name $lib"
done
grep -qE '\(>= ' <<<"$depends" || fail "Depends carries no versions: not computed by dpkg-shlibdeps"
# The window uses Qt's private platform interface: only the Qt build it was made with.
grep -qE '(^|, )qt6-base-abi \(= [0-9.]+\)' <<<"$depends" || fail "Depends does not name the Qt build"

dpkg-deb -c "$deb" >"$work/contents"
awk '$2 != "root/root" { print }' "$work/contents" | grep . && fail "files not owned by root"
awk '{ print $6 }' "$work/contents" | grep -vE '^\./(usr/)?$|^\./usr/' && fail "files outside /usr"
# One version everywhere: the package's, its changelog's and the AppStream release's.
dpkg-deb -x "$deb" "$work/root"
version="$(field Version)"
gzip -dc "$work/root/usr/share/doc/tarrow/changelog.gz" | head -1 | grep -qF "tarrow ($version) " ||
  fail "the changelog does not begin with version $version"
grep -qF "<release version=\"$version\"" "$work/root/usr/share/metainfo/$id.metainfo.xml" ||
  fail "the AppStream release is not version $version"

for f in usr/bin/tarrow usr/bin/tarrow-scan "usr/share/applications/$id.desktop" \
         "usr/share/metainfo/$id.metainfo.xml" "usr/share/icons/hicolor/48x48/apps/$id.png" \
         usr/share/doc/tarrow/copyright usr/share/doc/tarrow/changelog.gz \
         usr/share/man/man1/tarrow.1.gz; do
  grep -qE " \./$f\$" "$work/contents" || fail "the package lacks /$f"
done

# Both programs are hardened as Debian hardens its own (dpkg-buildflags): fortified,
# stack-protected, PIE, full RELRO with immediate binding. Control-flow protection is
# not among Debian 12's flags.
command -v hardening-check >/dev/null || fail "no hardening-check (devscripts)"
hardening-check --nocfprotection "$work/root/usr/bin/tarrow" "$work/root/usr/bin/tarrow-scan" \
  >"$work/hardening" 2>&1 || { cat "$work/hardening" >&2; fail "the programs are not hardened"; }

# The weekly scan's units are stopped on removal and forgotten on purge.
dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  [ -x "$work/control/$script" ] || fail "the package has no $script"
done
# Run as dpkg runs them, in a root of their own (DPKG_ROOT): an administrator enables the
# timer, the package is removed, then purged; no link, mask or record may be left.
if [ -x /usr/bin/deb-systemd-helper ] && command -v systemctl >/dev/null; then
  sysroot="$work/sysroot"
  units="$(cd "$work/root" && find . -name 'tarrow-scan.*' -path '*/systemd/system/*')"
  [ -n "$units" ] || fail "the package holds no systemd units"
  mkdir -p "$sysroot/etc/systemd/system" "$sysroot/var/lib/systemd"
  (cd "$work/root" && cp --parents $units "$sysroot/")
  script() { DPKG_ROOT="$sysroot" DPKG_MAINTSCRIPT_PACKAGE=tarrow sh "$work/control/$1" "$2"; }
  script postinst configure
  systemctl --root="$sysroot" enable tarrow-scan.timer >/dev/null 2>&1 || true
  [ -L "$sysroot/etc/systemd/system/timers.target.wants/tarrow-scan.timer" ] ||
    fail "systemctl enable made no timers.target.wants link"
  (cd "$sysroot" && rm -f $units)
  script prerm remove
  script postrm remove
  script postrm purge
  left="$(cd "$sysroot" && find etc var -name 'tarrow-scan.*')"
  [ -z "$left" ] || fail "a purge leaves the weekly scan enabled or masked: $left"
fi

# lintian answers non-zero on errors; warnings are shown for the reader. Its hardening
# tags are only information (-I), and none may show.
lintian -I --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || lint_rc=$?
cat "$work/lintian"
! grep -q '^E:' "$work/lintian" && [ "${lint_rc:-0}" -eq 0 ] || fail "lintian reports errors"
! grep -q ' hardening-no-' "$work/lintian" || fail "lintian finds the programs not hardened"

if [ "$install" != --install ]; then
  echo "package test: $(basename "$deb") is sound"
  exit 0
fi

# ---- installed into the system -----------------------------------------------------------
# "Inst NAME (VERSION ...)" is a new package; an upgrade names the old version in [].
apt-get install -s "$deb" 2>/dev/null | awk '$1 == "Inst" && $3 !~ /^\[/ { print $2 }' >"$brought"
grep -qxF tarrow "$brought" || fail "apt-get would not install tarrow from $deb"
if [ "$(wc -l <"$brought")" -gt 1 ]; then
  echo "the package brings: $(grep -vxF tarrow "$brought" | tr '\n' ' ')"
fi
installed_by_us=yes
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install $deb failed"; }
installed tarrow || fail "apt-get did not install tarrow"
dpkg-query -L tarrow >"$work/files"

/usr/bin/tarrow-scan --version | grep -qF "tarrow-scan (Quenby) $version" ||
  fail "/usr/bin/tarrow-scan --version does not say $version"
python3 "$here/window_check.py" --tarrow /usr/bin/tarrow --app-id "$id" --out "$build/tests/package" ||
  fail "the installed window did not open"

# An administrator enables the weekly timer; the purge must take the link away again.
wants=/etc/systemd/system/timers.target.wants/tarrow-scan.timer
systemctl enable tarrow-scan.timer >"$work/enable.log" 2>&1 || true
[ -L "$wants" ] || { cat "$work/enable.log" >&2; fail "systemctl enable made no $wants"; }

purge_brought || { cat "$work/purge.log" >&2; fail "apt-get purge failed"; }
installed_by_us=""
! dpkg-query -W -f='${db:Status-Abbrev}' tarrow 2>/dev/null | grep -q '^[ir]' ||
  fail "tarrow is still installed, or its configuration is, after the purge"

# A path of the package may remain only as a folder another package still owns (/usr/bin).
left=()
while IFS= read -r path; do
  [ -e "$path" ] || [ -L "$path" ] || continue
  if [ -d "$path" ] && [ ! -L "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1; then
    continue
  fi
  left+=("$path")
done <"$work/files"
[ ${#left[@]} -eq 0 ] || fail "left behind after removal: ${left[*]}"
links="$(find /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled \
              /var/lib/systemd/deb-systemd-helper-masked -name 'tarrow-scan.*' 2>/dev/null || true)"
[ -z "$links" ] || fail "the purge left the weekly scan enabled or masked: $links"
echo "package test: installed, ran and removed $(basename "$deb") ($(wc -l <"$work/files") paths)"
