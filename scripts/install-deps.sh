#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need on Debian 12.
# Installs only what is missing; as non-root it prints the apt-get line and stops.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config clang clang-format
  # fuzzing (scripts/fuzz.sh): the libFuzzer runtime
  libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev python3 time
  # diagnostic log; tarrow-scan's command line
  libboost-dev libboost-filesystem-dev libboost-date-time-dev locales
  libboost-program-options-dev
  # tarrow-scan's reading of backup listings (JSON lines), and the real backup tools
  # whose listings the tests make
  libsimdjson-dev restic borgbackup
  # tarrow-scan's machine-read output: its JSON schema, the Prometheus text format
  # (promtool), the real textfile collector, the systemd units, the bash completion
  python3-jsonschema prometheus prometheus-node-exporter systemd bash-completion
  # drives and volumes
  libmount-dev libblkid-dev
  # NTFS images in tests
  ntfs-3g fuse3
  # ext2/3/4 images in tests and benchmarks: mkfs.ext4, e2fsck, debugfs; losetup
  e2fsprogs mount
  # user interface; file type names (the details list) and an icon theme for the gallery;
  # the symbols of control characters in names (U+2400 on, which DejaVu lacks)
  qt6-base-dev qt6-base-dev-tools fonts-dejavu-core shared-mime-info adwaita-icon-theme
  fonts-freefont-ttf
  # the application icon as SVG, drawn by the same code as its PNG sizes
  qt6-svg-dev
  # asking a Wayland compositor for the user's attention: its activation protocol, and
  # Qt's connection to it (Qt's platform interface is declared in its private headers)
  libwayland-dev wayland-protocols qt6-base-private-dev
  # the program end to end on a headless Wayland compositor: sway, its input (wtype) and
  # screenshots (grim)
  sway wtype grim
  # the program end to end on a real X server: display, window manager, input, window
  # queries (xprop, xwininfo), screenshots (xwd) and another program's window (xlogo);
  # the installed desktop entry
  xvfb openbox xdotool x11-utils x11-apps desktop-file-utils
  # a screen reader's view: a private D-Bus session (dbus-daemon, dbus-send), the AT-SPI
  # bus and registry, and pyatspi to read the windows with
  dbus-daemon dbus-bin at-spi2-core python3-pyatspi
  # the system's disk service and authority, which hand the window devices it may not
  # open, run on a private system bus by an end-to-end test
  udisks2 polkitd
  # the AppStream metadata and the Debian package: its validators, dpkg-shlibdeps, the
  # hardening flags (dpkg-buildflags) and their check (hardening-check)
  appstream lintian dpkg-dev devscripts
  # peers measured by the benchmarks (nlohmann-json: the other JSON parser Debian has)
  fd-find findutils hyperfine nlohmann-json3-dev
  # the cold benchmark's arithmetic and its slow disk (a device-mapper delay target)
  bc dmsetup kmod
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run as root:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  # Packages that bring a service (Prometheus, node_exporter) must not start it: the
  # tests run their own, on a free port, and stop it.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
    chmod 755 /usr/sbin/policy-rc.d
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Locales the tests use: English (United States) for digit grouping, German for a
# decimal comma.
if [ "$(id -u)" -eq 0 ] && ! { locale -a 2>/dev/null | grep -qi '^en_US\.utf8$' &&
                             locale -a 2>/dev/null | grep -qi '^de_DE\.utf8$'; }; then
  sed -i -e 's/^# *\(en_US.UTF-8 UTF-8\)/\1/' -e 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  locale-gen >/dev/null
fi
