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
  # diagnostic log
  libboost-dev libboost-filesystem-dev libboost-date-time-dev locales
  # drives and volumes
  libmount-dev libblkid-dev
  # NTFS images in tests
  ntfs-3g fuse3
  # user interface; file type names (the details list) and an icon theme for the gallery
  qt6-base-dev qt6-base-dev-tools fonts-dejavu-core shared-mime-info adwaita-icon-theme
  # the program end to end on a real X server: display, window manager, input, window
  # queries (xprop, xwininfo), screenshots (xwd) and another program's window (xlogo);
  # the installed desktop entry
  xvfb openbox xdotool x11-utils x11-apps desktop-file-utils
  # peers measured by the benchmarks
  fd-find findutils hyperfine
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
