#!/usr/bin/env bash
# Builds the program and runs its main job: the Quenby window when a display is
# available, else the same scan without a window (tarrow-scan). Arguments go to the
# program that runs (/debug for the window; folders, --json... for tarrow-scan).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
cmake -S . -B build -G Ninja >/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cmake --build build --target tarrow >&2
  exec build/app/tarrow "$@"
fi
echo "No display: scanning every fixed drive with tarrow-scan instead of opening the window." >&2
cmake --build build --target tarrow-scan >&2
exec build/cli/tarrow-scan "$@"
