#!/usr/bin/env python3
"""Scan benchmark: tarrow-scan against the physical floor, fd and GNU find.

Makes (or reuses) a synthetic tree of about a million entries, checks that
tarrow-scan finds exactly what the generator made, then times every tool on the
same tree with a warm page cache: five rounds, tools alternated, median wall time,
median user+sys time, peak memory; then the stop latency of tarrow-scan (Ctrl-C to
exit). Prints ratios against the peers measured in this run.

usage: bench/scan_bench.py [--tree DIR] [--entries N] [--runs N] [--baseline TARROW-SCAN]

--baseline adds another build of tarrow-scan (an earlier version) to the contenders.
"""
import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
EXTENSIONS = ("doc docx xls xlsx ppt pptx pdf odf rtf pst ost qbb qdb "
              "jpg jpeg png bmp gif psd tiff mp3 wav wma aac mpa m4a aiff aif aifc "
              "avi 3gp flv mkv mov mp4 mpg wmv m4v").split()


def build():
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DTARROW_BUILD_BENCH=ON", "-DTARROW_BUILD_TESTS=OFF", "-DTARROW_BUILD_UI=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "--target", "tarrow-scan", "make-tree", "floor-walker"],
                   check=True, stdout=subprocess.DEVNULL)
    return {name: os.path.join(BUILD, sub, name) for sub, name in
            [("cli", "tarrow-scan"), ("bench", "make-tree"), ("bench", "floor-walker")]}


def make_tree(tools, tree, entries):
    expected_file = tree + ".expected.json"
    if os.path.isdir(tree) and os.path.exists(expected_file):
        with open(expected_file) as f:
            expected = json.load(f)
        if expected.get("entries") == entries:
            print(f"reusing the tree in {tree}")
            return expected
    shutil.rmtree(tree, ignore_errors=True)
    print(f"making a tree of {entries} entries in {tree} ...", flush=True)
    t = time.perf_counter()
    out = subprocess.run([tools["make-tree"], tree, str(entries), "1"], check=True,
                         capture_output=True, text=True).stdout
    print(f"  made in {time.perf_counter() - t:.1f} s")
    with open(expected_file, "w") as f:
        f.write(out)
    return json.loads(out)


def measure(cmd, env=None):
    """Wall, user+sys seconds and peak memory (KiB) of one run."""
    timed = ["/usr/bin/time", "-f", "%e %U %S %M"] + cmd
    p = subprocess.run(timed, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
    if p.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{p.stderr}")
    wall, user, sys_, rss = p.stderr.strip().splitlines()[-1].split()
    return float(wall), float(user) + float(sys_), int(rss)


def stop_latency(scan, tree):
    """Seconds from SIGINT to exit while scanning the tree."""
    p = subprocess.Popen([scan, "--json", tree], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    task = f"/proc/{p.pid}/task"
    deadline = time.perf_counter() + 10
    while time.perf_counter() < deadline:
        try:
            if len(os.listdir(task)) >= 4:
                break
        except FileNotFoundError:
            break
        time.sleep(0.0005)
    time.sleep(0.05)  # well into the scan
    t = time.perf_counter()
    p.send_signal(signal.SIGINT)
    out, _ = p.communicate()
    latency = time.perf_counter() - t
    stopped = b'"stopped": true' in out
    return latency, stopped and p.returncode == 130


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree", default="/var/tmp/tarrow-scan-bench")
    ap.add_argument("--entries", type=int, default=1_000_000)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--baseline", help="another tarrow-scan to compare with")
    args = ap.parse_args()

    tools = build()
    expected = make_tree(tools, args.tree, args.entries)
    got = json.loads(subprocess.run([tools["tarrow-scan"], "--json", args.tree], check=True,
                                    capture_output=True, text=True).stdout)
    if got["groups"] != expected["groups"]:
        sys.exit(f"tarrow-scan's answer differs from the tree's:\n{got['groups']}\n{expected['groups']}")
    print("tarrow-scan's counts and byte totals match the tree")

    fd = shutil.which("fdfind") or shutil.which("fd")
    ext_args = [a for e in EXTENSIONS for a in ("-e", e)]
    find_expr = ["("]
    for i, e in enumerate(EXTENSIONS):
        find_expr += (["-o"] if i else []) + ["-iname", f"*.{e}"]
    find_expr += [")"]
    c_env = dict(os.environ, LC_ALL="C")
    contenders = {
        "tarrow-scan": ([tools["tarrow-scan"], "--json", args.tree], None),
        "floor": ([tools["floor-walker"], args.tree], None),
        "fd -j1": ([fd, "-u", "-j1", "-t", "f"] + ext_args + [".", args.tree], None),
        "fd": ([fd, "-u", "-t", "f"] + ext_args + [".", args.tree], None),
        "find": (["find", args.tree, "-xdev", "-type", "f"] + find_expr +
                 ["-printf", "%s %T@ %p\\n"], c_env),
    }
    if not fd:
        del contenders["fd -j1"], contenders["fd"]
    if args.baseline:
        contenders["baseline"] = ([args.baseline, "--json", args.tree], None)

    measure(contenders["floor"][0])  # warm the page cache
    results = {name: [] for name in contenders}
    for _ in range(args.runs):
        for name, (cmd, env) in contenders.items():
            results[name].append(measure(cmd, env))

    med = {name: (statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs),
                  max(r[2] for r in runs)) for name, runs in results.items()}
    print(f"\n{'':12} {'wall s':>8} {'cpu s':>8} {'peak MiB':>9}   ({args.runs} runs, medians)")
    for name, (wall, cpu, rss) in med.items():
        print(f"{name:12} {wall:8.3f} {cpu:8.3f} {rss / 1024:9.1f}")
    t = med["tarrow-scan"]
    print()
    for peer in ("floor", "fd -j1", "fd", "find", "baseline"):
        if peer in med:
            print(f"tarrow-scan / {peer:8} wall {t[0] / med[peer][0]:5.2f}   cpu {t[1] / med[peer][1]:5.2f}"
                  f"   peak {(t[2] - med[peer][2]) / 1024:+6.1f} MiB")

    latencies = [stop_latency(tools["tarrow-scan"], args.tree) for _ in range(args.runs)]
    ok = all(stopped for _, stopped in latencies)
    print(f"\nstop latency (Ctrl-C to exit): median {statistics.median(l for l, _ in latencies) * 1000:.1f} ms,"
          f" max {max(l for l, _ in latencies) * 1000:.1f} ms{'' if ok else '  (some scans ended before the signal)'}")


if __name__ == "__main__":
    main()
