#!/usr/bin/env bash
# Reading backup listings against a warm scan of the same tree.
#
# Makes a synthetic tree of N entries (make-tree), writes its listing as restic ls
# --json and as borg list --json-lines write one (every folder and file, with its size
# and time; names that are not UTF-8 as the tools write them), then times in rounds,
# alternated, with the page cache warm: tarrow-scan of the tree, and tarrow-scan
# --backed-up of each listing over an empty folder (the reading alone), and of the tree
# with its restic listing (reading, scan and a lookup per file). Prints the
# median wall time of each and the ratio of reading to scanning (at most 1: a listing
# costs no more than the scan it is compared with).
#
# Then memory: a listing of N regular files of the four groups (the worst case, every
# entry kept), in each format, as the peak memory of tarrow-scan --backed-up over an
# empty folder less that of tarrow-scan alone; and the JSON parsers on the tree's
# listings (listing-parse-bench: simdjson against nlohmann-json).
#
#   bench/backup_bench.sh [--entries N] [--runs N]
#
# Everything it makes lives in one folder of its own under /var/tmp, removed at the end.
set -euo pipefail

entries=1000000
runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --entries) entries="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    *) echo "usage: $0 [--entries N] [--runs N]" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d /var/tmp/tarrow-backup-bench-XXXXXX)
trap 'rm -rf --one-file-system "$work"' EXIT

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARROW_BUILD_BENCH=ON \
  -DTARROW_BUILD_TESTS=OFF -DTARROW_BUILD_UI=OFF >/dev/null
cmake --build "$build" --target tarrow-scan make-tree listing-parse-bench >/dev/null
scan="$build/cli/tarrow-scan"

echo "making a tree of $entries entries in $work/tree ..."
"$build/bench/make-tree" "$work/tree" "$entries" 1 >/dev/null
mkdir "$work/empty"

# The listings, from the tree (tree) or of N group files in no tree (groups).
python3 - "$work" "$entries" <<'EOF'
import json, os, sys, time

work, n = sys.argv[1], int(sys.argv[2])

def text(name, standin):
    s = name.decode("utf-8", "surrogateescape")
    return "".join(standin if 0xDC80 <= ord(c) <= 0xDCFF else c for c in s)

def restic_time(t):
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(t)) + ".123456789Z"

def borg_time(t):
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(t)) + ".123456"

def write(kind, entries):
    with open(os.path.join(work, f"{kind}.restic.json"), "w") as r, \
         open(os.path.join(work, f"{kind}.borg.json"), "w") as b:
        r.write(json.dumps({"time": restic_time(time.time()), "tree": "0" * 64,
                            "paths": ["/"], "hostname": "bench", "username": "root",
                            "id": "1" * 64, "short_id": "11111111",
                            "struct_type": "snapshot"}, separators=(",", ":")) + "\n")
        for path, is_dir, size, mtime in entries:
            p = text(path, "\ufffd")
            node = {"name": p.rsplit("/", 1)[-1], "type": "dir" if is_dir else "file",
                    "path": p, "uid": 0, "gid": 0}
            if not is_dir:
                node["size"] = size
            node.update({"mode": 2147484141 if is_dir else 420,
                         "permissions": "drwxr-xr-x" if is_dir else "-rw-r--r--",
                         "mtime": restic_time(mtime), "atime": restic_time(mtime),
                         "ctime": restic_time(mtime), "struct_type": "node"})
            r.write(json.dumps(node, ensure_ascii=False, separators=(",", ":")) + "\n")
            b.write(json.dumps({"type": "d" if is_dir else "-",
                                "mode": "drwxr-xr-x" if is_dir else "-rw-r--r--",
                                "user": "root", "group": "root", "uid": 0, "gid": 0,
                                "path": text(path, "?")[1:], "healthy": True, "source": "",
                                "linktarget": "", "flags": 0, "size": 0 if is_dir else size,
                                "mtime": borg_time(mtime)}) + "\n")

def tree():
    top = os.fsencode(os.path.join(work, "tree"))
    for dirpath, dirnames, filenames in os.walk(top):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            yield path, name in dirnames, st.st_size, st.st_mtime

def groups():
    exts = ["doc", "pdf", "xlsx", "jpg", "png", "mp3", "mkv", "mp4"]
    for i in range(n):
        yield (b"/home/user/d%d/f%d.%s" % (i // 1000, i, exts[i % 8].encode()), False,
               i * 37 % 1000003, 1700000000 + i)

write("tree", tree())
write("groups", groups())
EOF
ls -l "$work"/*.json | awk '{printf "  %s  %6.0f MB\n", $NF, $5 / 1e6}'

# "seconds peak-KiB" of one run.
run() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
    { cat "$work/err" >&2; exit 1; }
  tail -n 1 "$work/time"
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

run "$scan" "$work/tree" >/dev/null # the page cache warm
declare -A wall mem
names=("scan" "restic" "borg" "both")
for ((r = 1; r <= runs; r++)); do
  for name in "${names[@]}"; do
    case "$name" in
      scan) cmd=("$scan" "$work/tree") ;;
      both) cmd=("$scan" --backed-up "$work/tree.restic.json" "$work/tree") ;;
      *) cmd=("$scan" --backed-up "$work/tree.$name.json" "$work/empty") ;;
    esac
    read -r w m < <(run "${cmd[@]}")
    wall[$name]+="$w "
    mem[$name]+="$m "
  done
done
echo
echo "== $entries entries, warm, median of $runs rounds (a machine shared with others)"
for name in "${names[@]}"; do
  w=$(tr ' ' '\n' <<<"${wall[$name]}" | grep . | median)
  m=$(tr ' ' '\n' <<<"${mem[$name]}" | grep . | median)
  eval "w_$name=$w"
  case "$name" in
    scan) label="tarrow-scan of the tree" ;;
    both) label="the scan, each file looked up" ;;
    *) label="reading its $name listing" ;;
  esac
  printf "  %-34s %7.2f s  %7.1f MiB peak\n" "$label" "$w" "$(echo "$m / 1024" | bc -l)"
done
for name in restic borg; do
  eval "w=\$w_$name"
  printf "  reading %-6s / warm scan: %.2f\n" "$name" "$(echo "$w / $w_scan" | bc -l)"
done

echo
echo "== memory of a listing of $entries files of the four groups (every entry kept)"
read -r _ base < <(run "$scan" "$work/empty")
for name in restic borg; do
  read -r w m < <(run "$scan" --backed-up "$work/groups.$name.json" "$work/empty")
  printf "  %-6s %7.2f s  %6.1f MiB over tarrow-scan alone (%.1f MiB)\n" "$name" "$w" \
    "$(echo "($m - $base) / 1024" | bc -l)" "$(echo "$base / 1024" | bc -l)"
done

echo
echo "== the JSON parsers on the tree's listings"
for name in restic borg; do
  echo "-- $name"
  "$build/bench/listing-parse-bench" "$work/tree.$name.json" 3 | sed 's/^/  /'
done
