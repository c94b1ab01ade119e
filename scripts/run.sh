#!/usr/bin/env bash
# Builds the program and scans every fixed drive with tarrow-scan, the scan of the
# windowed program without a window. Arguments go to tarrow-scan (folders, --json...).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target tarrow-scan >&2
exec build/cli/tarrow-scan "$@"
