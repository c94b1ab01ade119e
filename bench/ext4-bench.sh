#!/usr/bin/env bash
# The ext4 table reader against the walk and against fd and find, on a loop-mounted
# ext4 image of N entries (bench/MakeTree.cpp's tree; the image is kept for later runs).
#
# Each round runs, cold (caches dropped first) and then warm: tarrow-scan of the
# volume's root (read through its inode tables), tarrow-scan of the tree's folder
# (walked, with the read-ahead it gets by default), fd -j4, -j8 and -j16, and find;
# and for the whole drive fd --one-file-system of the volume's root. Prints medians,
# peak memory and the ratios of one run. Needs root (loop devices, dropping caches).
#
#   bench/ext4-bench.sh [--entries N] [--runs N]      defaults 300000 and 3
set -euo pipefail

entries=300000
runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --entries) entries="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    *) echo "usage: $0 [--entries N] [--runs N]" >&2; exit 2 ;;
  esac
done

if [ "$(id -u)" != 0 ]; then
  echo "ext4-bench.sh needs root: loop devices, and dropping the kernel's caches." >&2
  exit 1
fi
if ! { echo 3 > /proc/sys/vm/drop_caches; } 2>/dev/null; then
  echo "ext4-bench.sh: /proc/sys/vm/drop_caches cannot be written here." >&2
  exit 1
fi
fd=$(command -v fdfind || command -v fd || true)
if [ -z "$fd" ]; then
  echo "ext4-bench.sh needs fd (apt-get install fd-find)." >&2
  exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARROW_BUILD_BENCH=ON \
  -DTARROW_BUILD_TESTS=OFF -DTARROW_BUILD_UI=OFF >/dev/null
cmake --build "$build" --target tarrow-scan make-tree >/dev/null
scan="$build/cli/tarrow-scan"

work="${TARROW_BENCH_DIR:-/var/tmp/tarrow-bench}"
image="$work/ext4-$entries.img"
mnt=$(mktemp -d /var/tmp/tarrow-ext4-bench-XXXXXX)
cleanup() {
  umount "$mnt" 2>/dev/null || true
  rmdir "$mnt" 2>/dev/null || true
  rm -f "$mnt.time"
}
trap cleanup EXIT
mkdir -p "$work"

if [ ! -f "$image" ]; then
  echo "== making $image ($entries entries)"
  rm -f "$image.tmp"
  truncate -s 8G "$image.tmp"
  mkfs.ext4 -q -F -i 8192 "$image.tmp" # room for a million inodes
  mount -o loop "$image.tmp" "$mnt"
  "$build/bench/make-tree" "$mnt/tree" "$entries" 1 >/dev/null
  umount "$mnt"
  mv "$image.tmp" "$image"
fi
mount -o loop "$image" "$mnt"
dev=$(findmnt -n -o SOURCE "$mnt")

exts=(doc docx xls xlsx ppt pptx pdf odf rtf pst ost qbb qdb jpg jpeg png bmp gif psd tiff
      mp3 wav wma aac mpa m4a aiff aif aifc avi 3gp flv mkv mov mp4 mpg wmv m4v)
fd_exts=()
find_expr=("(")
for e in "${exts[@]}"; do
  fd_exts+=(-e "$e")
  [ ${#find_expr[@]} -gt 1 ] && find_expr+=(-o)
  find_expr+=(-iname "*.$e")
done
find_expr+=(")")

# The table reads the volume's root, the walk the tree below it (a folder is walked).
used=$(df --output=iused "$mnt" | tail -n 1 | tr -d ' ')
echo "== $entries entries ($used inodes used) on $dev, $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
"$scan" --json "$mnt" >"$mnt.table.json" 2>/dev/null || true
"$scan" --json "$mnt/tree" >"$mnt.walk.json" 2>/dev/null || true
python3 - "$mnt.table.json" "$mnt.walk.json" <<'PY'
import json, sys
t, w = (json.load(open(p)) for p in sys.argv[1:3])
print("  table read as:", t["drives"][0]["enumerator"], "- walk read as:", w["drives"][0]["enumerator"])
print("  same totals:", t["total"] == w["total"], t["total"])
PY
rm -f "$mnt.table.json" "$mnt.walk.json"

run() { # cold|warm command...: "seconds peak-KiB"
  local mode="$1"
  shift
  if [ "$mode" = cold ]; then
    sync
    echo 3 > /proc/sys/vm/drop_caches
  fi
  /usr/bin/time -f "%e %M" -o "$mnt.time" "$@" >/dev/null 2>/dev/null || true
  tail -n 1 "$mnt.time" # overwritten by the next run, removed at the end
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

names=("table" "walk" "fd -j4" "fd -j8" "fd -j16" "find" "fd whole drive")
command_of() {
  case "$1" in
    "table") cmd=("$scan" --json "$mnt") ;;
    "walk") cmd=("$scan" --json "$mnt/tree") ;;
    "fd -j"*) cmd=("$fd" -u "${1#fd }" -t f "${fd_exts[@]}" . "$mnt/tree") ;;
    "find") cmd=(env LC_ALL=C find "$mnt/tree" -xdev -type f "${find_expr[@]}" -printf "%s %T@ %p\n") ;;
    "fd whole drive") cmd=("$fd" -u -j8 --one-file-system -t f "${fd_exts[@]}" . "$mnt") ;;
  esac
}

for mode in cold warm; do
  declare -A wall=() mem=()
  for ((r = 1; r <= runs; r++)); do
    for name in "${names[@]}"; do
      command_of "$name"
      [ "$mode" = warm ] && run warm "${cmd[@]}" >/dev/null # the cache filled for this one
      read -r w m < <(run "$mode" "${cmd[@]}")
      wall[$name]+="$w "
      mem[$name]+="$m "
    done
  done
  declare -A med=() peak=()
  echo
  echo "== $mode, $runs rounds"
  printf "  %-16s %8s %9s\n" "" "median s" "peak MiB"
  for name in "${names[@]}"; do
    med[$name]=$(tr ' ' '\n' <<<"${wall[$name]}" | grep . | median)
    peak[$name]=$(tr ' ' '\n' <<<"${mem[$name]}" | grep . | sort -g | tail -n 1)
    printf "  %-16s %8.2f %9.1f\n" "$name" "${med[$name]}" "$(echo "scale=1; ${peak[$name]} / 1024" | bc)"
  done
  best="fd -j4"
  for name in "fd -j8" "fd -j16"; do
    if (($(echo "${med[$name]} < ${med[$best]}" | bc))); then best=$name; fi
  done
  ratio() { echo "scale=3; $1 / $2" | bc; }
  printf "  table / best fd (%s) %6.2f\n" "$best" "$(ratio "${med[table]}" "${med[$best]}")"
  printf "  table / walk          %6.2f\n" "$(ratio "${med[table]}" "${med[walk]}")"
  printf "  table / find          %6.2f\n" "$(ratio "${med[table]}" "${med[find]}")"
  printf "  whole drive: table / fd --one-file-system %6.2f\n" \
    "$(ratio "${med[table]}" "${med[fd whole drive]}")"
  printf "  table's peak memory above the walk's: %d bytes a used inode\n" \
    "$(( (${peak[table]} - ${peak[walk]}) * 1024 / used ))"
done
echo
echo "== load $(cut -d' ' -f1-3 /proc/loadavg)"
