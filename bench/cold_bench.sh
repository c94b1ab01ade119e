#!/usr/bin/env bash
# Cold-cache scan benchmark: tarrow-scan against fd and GNU find, each run after the
# kernel's caches were dropped, so that every folder and inode comes from the disk.
#
# Makes (or reuses) a synthetic tree, then alternates in each round: tarrow-scan (the
# read-ahead the drive gets by default), tarrow-scan --read-ahead=0 (the walk alone),
# with --baseline another build of tarrow-scan (an earlier version, to compare with),
# fd -j1, fd -j4/-j8/-j16 and find. Prints the median wall time, processor time
# (user + system) and peak memory of each, the ratios of tarrow-scan to the best fd -jN,
# to fd -j1, to find and to the baseline, and the stop latency (Ctrl-C to exit) of a
# cold scan with and without read-ahead.
#
# Where the device mapper works, the same again on a loop-mounted ext4 image behind
# a "delay" target of about 1 ms per read, which stands for a slow disk.
#
# Needs root (dropping caches, loop devices, the device mapper) and fd (fd-find).
#
#   bench/cold_bench.sh [--entries N] [--runs N] [--tree DIR] [--delay-entries N] [--no-delay]
#                       [--baseline TARROW-SCAN]
#
# Everything it makes lives in one folder of its own under /var/tmp (on the disk, not
# in memory), removed at the end; --tree DIR names a tree to make once and reuse
# across runs instead (DIR.entries beside it records its size).
set -euo pipefail

entries=300000
runs=3
tree="" # made afresh in this run's own folder unless a reused one is named
delay=1
delay_entries=100000 # every read waits: a smaller tree keeps a round within minutes
baseline=""
while [ $# -gt 0 ]; do
  case "$1" in
    --entries) entries="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --tree) tree="$2"; shift 2 ;;
    --delay-entries) delay_entries="$2"; shift 2 ;;
    --no-delay) delay=0; shift ;;
    --baseline) baseline="$2"; shift 2 ;;
    *) echo "usage: $0 [--entries N] [--runs N] [--tree DIR] [--delay-entries N] [--no-delay] [--baseline TARROW-SCAN]" >&2
       exit 2 ;;
  esac
done

if [ "$(id -u)" != 0 ]; then
  echo "cold_bench.sh needs root: it drops the kernel's caches before every run." >&2
  exit 1
fi
if ! { echo 3 > /proc/sys/vm/drop_caches; } 2>/dev/null; then
  echo "cold_bench.sh: /proc/sys/vm/drop_caches cannot be written here; no cold run is possible." >&2
  exit 1
fi
fd=$(command -v fdfind || command -v fd || true)
if [ -z "$fd" ]; then
  echo "cold_bench.sh needs fd (apt-get install fd-find)." >&2
  exit 1
fi

work=$(mktemp -d /var/tmp/tarrow-cold-bench-XXXXXX)
loop=""
name="tarrow-cold-$$"
cleanup() {
  umount "$work/mnt" 2>/dev/null || true
  dmsetup remove "$name" 2>/dev/null || true
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
[ -n "$tree" ] || tree="$work/tree"

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARROW_BUILD_BENCH=ON \
  -DTARROW_BUILD_TESTS=OFF -DTARROW_BUILD_UI=OFF >/dev/null
cmake --build "$build" --target tarrow-scan make-tree >/dev/null
scan="$build/cli/tarrow-scan"
maketree="$build/bench/make-tree"

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

make_tree() { # DIR: made once, reused while its entry count is the one asked for
  local dir="$1"
  if [ -d "$dir" ] && [ ! -L "$dir" ] && [ "$(cat "$dir.entries" 2>/dev/null)" = "$entries" ]; then
    echo "reusing the tree in $dir"
    return
  fi
  rm -rf --one-file-system "$dir"
  echo "making a tree of $entries entries in $dir ..."
  "$maketree" "$dir" "$entries" 1 >/dev/null
  echo "$entries" > "$dir.entries"
  sync
}

# One cold run: "seconds peak-KiB processor-seconds" of the command.
cold() {
  sync
  echo 3 > /proc/sys/vm/drop_caches
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>/dev/null || true
  tail -n 1 "$work/time" | awk '{print $1, $2, $3 + $4}'
}

# Seconds from SIGINT to exit of a cold scan interrupted after a second.
stop_latency() {
  sync
  echo 3 > /proc/sys/vm/drop_caches
  "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep 1
  local t0
  t0=$(date +%s%N)
  kill -INT "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "scale=1; ($(date +%s%N) - $t0) / 1000000" | bc
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

bench_tree() { # DIR LABEL
  local dir="$1" label="$2"
  local dev rot
  dev=$(mountpoint -d "$(stat -c %m "$dir")" 2>/dev/null || true)
  rot=$(cat "/sys/dev/block/$dev/queue/rotational" 2>/dev/null ||
        cat "/sys/dev/block/$dev/../queue/rotational" 2>/dev/null || echo "?")
  echo
  echo "== $label: $dir (device $dev, rotational: $rot), $runs rounds, caches dropped before each run"
  declare -A wall mem cpu
  local names=("tarrow-scan" "tarrow-scan -r0")
  [ -n "$baseline" ] && names+=("baseline")
  names+=("fd -j1" "fd -j4" "fd -j8" "fd -j16" "find")
  for ((r = 1; r <= runs; r++)); do
    for name in "${names[@]}"; do
      case "$name" in
        "tarrow-scan") cmd=("$scan" --json "$dir") ;;
        "tarrow-scan -r0") cmd=("$scan" --read-ahead=0 --json "$dir") ;;
        "baseline") cmd=("$baseline" --json "$dir") ;;
        "fd -j"*) cmd=("$fd" -u "${name#fd }" -t f "${fd_exts[@]}" . "$dir") ;;
        "find") cmd=(env LC_ALL=C find "$dir" -xdev -type f "${find_expr[@]}" -printf "%s %T@ %p\n") ;;
      esac
      read -r w m c < <(cold "${cmd[@]}")
      wall[$name]+="$w "
      mem[$name]+="$m "
      cpu[$name]+="$c "
    done
    echo "  round $r done"
  done
  declare -A med medcpu
  printf "\n  %-16s %8s %8s %9s\n" "" "wall s" "cpu s" "peak MiB"
  for name in "${names[@]}"; do
    med[$name]=$(tr ' ' '\n' <<<"${wall[$name]}" | grep . | median)
    medcpu[$name]=$(tr ' ' '\n' <<<"${cpu[$name]}" | grep . | median)
    local peak
    peak=$(tr ' ' '\n' <<<"${mem[$name]}" | grep . | sort -g | tail -n 1)
    printf "  %-16s %8.2f %8.2f %9.1f\n" "$name" "${med[$name]}" "${medcpu[$name]}" \
      "$(echo "scale=1; $peak / 1024" | bc)"
  done
  local best="fd -j4"
  for name in "fd -j8" "fd -j16"; do
    if (($(echo "${med[$name]} < ${med[$best]}" | bc))); then best=$name; fi
  done
  echo
  for peer in "$best" "fd -j1" "find" "tarrow-scan -r0"; do
    printf "  tarrow-scan / %-16s %5.2f\n" "$peer" "$(echo "scale=3; ${med[tarrow-scan]} / ${med[$peer]}" | bc)"
  done
  printf "  tarrow-scan -r0 / %-12s %5.2f   (the walk without read-ahead)\n" "$best" \
    "$(echo "scale=3; ${med[tarrow-scan -r0]} / ${med[$best]}" | bc)"
  if [ -n "$baseline" ]; then
    printf "  tarrow-scan / baseline        %5.2f wall, %5.2f processor time\n" \
      "$(echo "scale=3; ${med[tarrow-scan]} / ${med[baseline]}" | bc)" \
      "$(echo "scale=3; ${medcpu[tarrow-scan]} / ${medcpu[baseline]}" | bc)"
  fi
  local with=() without=()
  for ((r = 1; r <= runs; r++)); do
    with+=("$(stop_latency "$scan" --json "$dir")")
    without+=("$(stop_latency "$scan" --read-ahead=0 --json "$dir")")
  done
  echo "  stop latency, cold (Ctrl-C to exit, median ms): with read-ahead" \
    "$(printf '%s\n' "${with[@]}" | median), without $(printf '%s\n' "${without[@]}" | median)"
}

make_tree "$tree"
bench_tree "$tree" "the machine's disk"

if [ "$delay" = 0 ]; then
  exit 0
fi
# A slow disk: an ext4 image on a loop device behind a 1 ms read delay.
if ! command -v dmsetup >/dev/null || ! command -v losetup >/dev/null; then
  echo; echo "no delayed device: dmsetup or losetup is missing (apt-get install dmsetup mount)"
  exit 0
fi
modprobe dm-delay 2>/dev/null || true
if ! dmsetup version >/dev/null 2>&1; then
  echo; echo "no delayed device: this kernel has no device mapper (/dev/mapper/control)"
  exit 0
fi
truncate -s 4G "$work/image"
loop=$(losetup --find --show "$work/image" 2>/dev/null || true)
sectors=$(blockdev --getsz "$loop" 2>/dev/null || echo 0)
if [ -z "$loop" ] || ! dmsetup create "$name" --table "0 $sectors delay $loop 0 1 $loop 0 0" 2>/dev/null; then
  echo; echo "no delayed device: loop devices or the device mapper's delay target do not work here"
  exit 0
fi
mkfs.ext4 -q "/dev/mapper/$name"
mkdir "$work/mnt"
mount "/dev/mapper/$name" "$work/mnt"
entries=$delay_entries
make_tree "$work/mnt/tree"
bench_tree "$work/mnt/tree" "a disk with 1 ms per read (device-mapper delay on a loop device)"
