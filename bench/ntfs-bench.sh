#!/usr/bin/env bash
# Builds an NTFS image of about FILES files (kept for later runs), mounts it with
# ntfs-3g and times the journal source, the NTFS enumerator and the directory walk on
# that mount, RUNS rounds each, warm and, where the page cache can be dropped, cold
# (remounted before every run). Needs root.
#
#   bench/ntfs-bench.sh [FILES [RUNS]]        defaults 200000 and 5
set -euo pipefail
cd "$(dirname "$0")/.."
files="${1:-200000}"
runs="${2:-5}"
work="${TARROW_BENCH_DIR:-/tmp/tarrow-bench}"
image="$work/ntfs-$files.img"
mnt="$work/mnt"
mkdir -p "$work" "$mnt"

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARROW_BUILD_BENCH=ON \
  -DTARROW_BUILD_TESTS=OFF -DTARROW_BUILD_UI=OFF >/dev/null
cmake --build build-bench -j2 --target tarrow_mft_bench

cleanup() { umount "$mnt" 2>/dev/null || true; }
trap cleanup EXIT

if [ ! -f "$image" ]; then
  echo "== building $image ($files files)"
  truncate -s 8G "$image.tmp"
  mkntfs -F -q -f "$image.tmp" >/dev/null 2>&1
  ntfs-3g "$image.tmp" "$mnt"
  # A user's tree: folders three deep, about 20 files each, a quarter of them in one
  # of the four groups, most small enough to live in their file records.
  python3 - "$mnt" "$files" <<'PY'
import os, random, sys
root, total = sys.argv[1], int(sys.argv[2])
random.seed(7)
kept = ["docx", "pdf", "xlsx", "jpg", "png", "mp3", "mp4", "mov"]
other = ["txt", "dll", "h", "cpp", "js", "json", "dat", "xml", "log", "ini", "py", "html"]
made = 0
a = 0
while made < total:
    for b in range(10):
        for c in range(5):
            folder = os.path.join(root, f"Users{a:03}", f"Project {b}", f"sub{c}")
            os.makedirs(folder, exist_ok=True)
            for i in range(20):
                if made >= total:
                    break
                ext = random.choice(kept) if random.random() < 0.25 else random.choice(other)
                with open(os.path.join(folder, f"file {made:07}.{ext}"), "wb") as f:
                    f.write(b"x" * random.randint(0, 600))
                made += 1
    a += 1
PY
  umount "$mnt"
  mv "$image.tmp" "$image"
fi

# Read-only, so that the runs leave the kept image as it was (no access times).
ntfs-3g -o ro "$image" "$mnt"
echo "== $files files, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
build-bench/bench/tarrow_mft_bench "$mnt" --runs "$runs"
if [ "$(id -u)" -eq 0 ] && [ -w /proc/sys/vm/drop_caches ]; then
  build-bench/bench/tarrow_mft_bench "$mnt" --runs "$runs" --cold "$image" ||
    echo "(cold cache not measured)"
else
  echo "(cold cache not measured: /proc/sys/vm/drop_caches is not writable)"
fi
echo "== load $(cut -d' ' -f1-3 /proc/loadavg)"
