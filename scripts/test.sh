#!/usr/bin/env bash
# Builds the program and runs the whole test suite.
#
#   scripts/test.sh                          normal build in build/
#   scripts/test.sh --sanitize address,undefined   in build-asan/
#   scripts/test.sh --sanitize thread --label threads   in build-tsan/, threaded engine tests only
#   scripts/test.sh --label package          installs the Debian package into this system,
#                                            runs it and removes it (CI's throwaway machine)
#
# Extra arguments after -- go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=""
label=""
ctest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize="$2"; shift 2 ;;
    --label) label="$2"; shift 2 ;;
    --) shift; ctest_args+=("$@"); break ;;
    *) echo "usage: $0 [--sanitize LIST] [--label L] [-- ctest args]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh

case "$sanitize" in
  "") dir=build ;;
  thread) dir=build-tsan ;;
  *) dir=build-asan ;;
esac

extra=()
if [ "$sanitize" = thread ]; then
  # Only the engine runs threads of its own; the UI is left out of this build.
  extra+=(-DTARROW_BUILD_UI=OFF)
fi

cmake -S . -B "$dir" -G Ninja -DTARROW_WERROR=ON -DTARROW_SANITIZE="$sanitize" "${extra[@]}" >/dev/null
cmake --build "$dir"

export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
export QT_QPA_PLATFORM=offscreen

args=(--test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 600)
# The package test installs into the system: only when asked for by its label.
if [ -n "$label" ]; then args+=(-L "$label"); else args+=(-LE '^package$'); fi
ctest "${args[@]}" "${ctest_args[@]}"
