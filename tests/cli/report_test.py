#!/usr/bin/env python3
"""tarrow-scan's machine-read output, checked from outside the program.

  report_test.py --scan TARROW-SCAN --schema SCHEMA [--completion FILE] CHECK...

CHECKs: json (both forms validate against the schema on trees with odd names, and every
figure equals a count made here), exclude (--exclude and leftOut), metrics (promtool
accepts them, equal to the JSON's, written whole and never through a link),
node_exporter (the real collector serves them), completion (the bash completion).
Every file is made in a temporary folder of the test's own.
"""
import argparse
import datetime
import json
import os
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import time
import urllib.request
from zoneinfo import ZoneInfo

GROUPS = ["Documents", "Images", "Music", "Video"]

# Name (bytes), group or None, size. Odd on purpose: spaces, a newline, quotes, a
# backslash, bytes that are not UTF-8, a leading dash, letters in upper case.
TREE = [
    (b"docs/a b.doc", "Documents", 1536),
    (b"docs/new\nline.PDF", "Documents", 70),
    (b"docs/\"quoted\" \\ back.xlsx", "Documents", 3),
    (b"img/caf\xe9.jpg", "Images", 5),
    (b"img/\xff\xfe.png", "Images", 11),
    (b"img/\xe6\x97\xa5\xe6\x9c\xac.GIF", "Images", 7),
    (b"music/-dash.mp3", "Music", 0),
    (b"music/tab\there.wav", "Music", 9),
    (b"video/x.MKV", "Video", 4096),
    (b"video/deep/er/still/y.mp4", "Video", 2),
    (b"other/readme.txt", None, 10),
    (b"other/noext", None, 10),
]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def make_tree(root, entries):
    for name, _, size in entries:
        path = os.path.join(os.fsencode(root), name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"x" * size)


def expected(entries):
    """Per-group files and bytes of the entries, counted here."""
    files = {g: 0 for g in GROUPS}
    size = {g: 0 for g in GROUPS}
    for _, group, n in entries:
        if group:
            files[group] += 1
            size[group] += n
    return files, size


class Scanner:
    def __init__(self, scan, schema, env):
        self.scan = scan
        with open(schema, encoding="utf-8") as f:
            self.schema = json.load(f)
        import jsonschema

        jsonschema.Draft202012Validator.check_schema(self.schema)
        self.validator = jsonschema.Draft202012Validator(self.schema)
        self.env = env

    def run(self, *args, cwd=None, expect=0, env=None):
        r = subprocess.run([self.scan, *args], capture_output=True, env={**self.env, **(env or {})},
                           cwd=cwd)
        check(r.returncode == expect, f"{args}: exit status {r.returncode}, stderr {r.stderr!r}")
        return r

    def json(self, *args, cwd=None, env=None):
        r = self.run("--json", *args, cwd=cwd, env=env)
        # Bytes that are not UTF-8 come as \udcXX escapes, which json takes as they are.
        doc = json.loads(r.stdout.decode("utf-8"))
        errors = [e.message for e in self.validator.iter_errors(doc)]
        check(not errors, f"{args}: not valid against the schema: {errors[:3]}")
        return doc


def native(text):
    """A path of the JSON back as bytes."""
    return text.encode("utf-8", "surrogateescape")


def check_json(s, work):
    a = os.path.join(work, "a")
    b = os.path.join(work, "b")
    make_tree(a, TREE)
    make_tree(b, TREE[:3])
    A = os.fsencode(a)
    # A hard link counts once, under either name; a symbolic link not at all.
    hard = (os.path.join(A, b"docs/a b.doc"), os.path.join(A, b"other/hard.doc"))
    os.link(*hard)
    os.symlink(os.path.join(A, b"img/caf\xe9.jpg"), os.path.join(A, b"other/link.jpg"))
    # Last writes in winter and in summer, in a zone that changes its clock.
    winter = 1610000000  # 2021-01-07 06:13:20 UTC
    summer = 1625000000  # 2021-06-29 20:53:20 UTC
    os.utime(os.path.join(A, b"video/x.MKV"), (winter, winter))
    os.utime(os.path.join(A, b"music/-dash.mp3"), (summer, summer))

    before = time.time()
    plain = s.json(a, b)
    doc = s.json("--files", a, b)
    files, size = expected(TREE)
    files3, size3 = expected(TREE[:3])
    for d in (plain, doc):
        check(d["formatVersion"] == 1, "formatVersion")
        check(d["program"]["name"] == "tarrow-scan", "program name")
        check(d["host"] == socket.gethostname(), f"host {d['host']}")
        at = datetime.datetime.fromisoformat(d["startedAt"])
        check(before - 2 <= at.timestamp() <= time.time() + 1, f"startedAt {d['startedAt']}")
        berlin = datetime.datetime.fromtimestamp(at.timestamp(), ZoneInfo("Europe/Berlin"))
        check(at.utcoffset() == berlin.utcoffset(), f"startedAt offset {d['startedAt']}")
        for g in d["groups"]:
            check(g["files"] == files[g["name"]] + files3[g["name"]], f"files of {g['name']}")
            check(g["bytes"] == size[g["name"]] + size3[g["name"]], f"bytes of {g['name']}")
        check(d["total"]["files"] == sum(files.values()) + sum(files3.values()), "total files")
        check(d["total"]["bytes"] == sum(size.values()) + sum(size3.values()), "total bytes")
        drives = {x["root"]: x for x in d["drives"]}
        check(sorted(drives) == sorted([a, b]), f"drives {sorted(drives)}")
        check(drives[a]["files"] == sum(files.values()), "files of drive a")
        check(drives[a]["bytes"] == sum(size.values()), "bytes of drive a")
        check(drives[b]["files"] == sum(files3.values()), "files of drive b")
        check(drives[b]["bytes"] == sum(size3.values()), "bytes of drive b")
        for x in drives.values():
            check(x["unreadableFolders"] == 0, "unreadable folders")
            check(x["enumerator"] == "walk", "enumerator")
    check("files" not in plain, "files without --files")

    listed = {native(f["path"]): f for f in doc["files"]}
    want = {os.path.join(os.fsencode(root), n): (g, sz)
            for root, entries in ((a, TREE), (b, TREE[:3])) for n, g, sz in entries if g}
    check((hard[0] in listed) != (hard[1] in listed), "a hard link is listed once")
    if hard[1] in listed:
        listed[hard[0]] = listed.pop(hard[1])
    check(set(listed) == set(want), f"the files listed: {set(listed) ^ set(want)}")
    for path, (g, sz) in want.items():
        f = listed.get(path)
        if not f:
            continue
        check(f["group"] == g and f["size"] == sz, f"{path}: {f}")
        mtime = os.lstat(path).st_mtime
        at = datetime.datetime.fromisoformat(f["modified"]).timestamp()
        check(abs(at - mtime) < 1, f"{path}: modified {f['modified']}, file {mtime}")
    check(listed[os.path.join(A, b"video/x.MKV")]["modified"] == "2021-01-07T07:13:20+01:00",
          "winter time")
    check(listed[os.path.join(A, b"music/-dash.mp3")]["modified"] == "2021-06-29T22:53:20+02:00",
          "summer time")

    # Offsets RFC 3339 cannot carry (a whole day, clamped to it from 25 hours): in UTC.
    for zone in ("EST+24", "EST+25", "EST-24"):
        d = s.json("--files", b, env={"TZ": zone})
        stamps = [d["startedAt"]] + [f["modified"] for f in d["files"]]
        check(all(t.endswith("+00:00") for t in stamps), f"TZ={zone}: {stamps[:2]}")


def check_unreadable(s, work):
    """Folders the scan cannot read are counted on their drive (as a user of no rights)."""
    setpriv = shutil.which("setpriv")
    if os.geteuid() == 0 and not setpriv:
        print("unreadable folders: skipped (root, and no setpriv to run as another user)")
        return
    root = os.path.join(work, "u")
    make_tree(root, [(b"open/a.doc", "Documents", 1), (b"shut/b.doc", "Documents", 1),
                     (b"shut2/c.doc", "Documents", 1)])
    for dirpath, dirnames, filenames in os.walk(work):
        os.chmod(dirpath, 0o755)
        for n in filenames:
            os.chmod(os.path.join(dirpath, n), 0o644)
    os.chmod(os.path.join(root, "shut"), 0)
    os.chmod(os.path.join(root, "shut2"), 0)
    os.chmod(os.path.dirname(work), 0o755)
    scan = [s.scan]
    if os.geteuid() == 0:
        scan = [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", s.scan]
    r = subprocess.run(scan + ["--json", root], capture_output=True, env=s.env)
    check(r.returncode == 0, f"unreadable: exit status {r.returncode} {r.stderr!r}")
    doc = json.loads(r.stdout)
    check(doc["drives"][0]["unreadableFolders"] == 2, f"unreadable: {doc['drives'][0]}")
    check(doc["total"]["files"] == 1, "unreadable: files")


def check_exclude(s, work):
    root = os.path.join(work, "e")
    R = os.fsencode(root)
    entries = [(b"keep/a.doc", "Documents", 1), (b"skip/b.doc", "Documents", 2),
               (b"skip/deep/c.doc", "Documents", 4), (b"skipped/d.doc", "Documents", 8),
               (b"Skip2/e.doc", "Documents", 16), (b"caf\xe9/f.doc", "Documents", 32),
               (b".Trash-%d/g.doc" % os.getuid(), "Documents", 64)]
    make_tree(root, entries)

    def total(doc):
        return doc["total"]["bytes"]

    def left_out(doc):
        return {native(x["path"]): x["reason"] for d in doc["drives"] for x in d["leftOut"]}

    base = s.json(root)
    check(total(base) == 63, f"exclude: nothing asked, {total(base)}")
    check(left_out(base) == {os.path.join(R, b".Trash-%d" % os.getuid()): "trash"},
          f"exclude: the trash is left out and said so, {left_out(base)}")

    # Relative from the working folder, with "." and ".." steps and a trailing '/'; one
    # that does not exist is no error and not listed; the neighbour named alike stays.
    doc = s.json("--exclude", "./e/keep/../skip/", "--exclude", "e/missing", "--exclude",
                 os.path.join(R, b"caf\xe9").decode("utf-8", "surrogateescape"), root, cwd=work)
    check(total(doc) == 1 + 8 + 16, f"exclude: relative and non-UTF-8, {total(doc)}")
    lo = left_out(doc)
    check(lo.get(os.path.join(R, b"skip")) == "exclude", f"exclude: listed, {lo}")
    check(lo.get(os.path.join(R, b"caf\xe9")) == "exclude", f"exclude: non-UTF-8 listed, {lo}")
    check(os.path.join(R, b"missing") not in lo, "exclude: a missing folder is not listed")

    # Byte for byte: the letter case counts.
    doc = s.json("--exclude", os.path.join(root, "skip2"), root)
    check(total(doc) == 63, f"exclude: letter case, {total(doc)}")

    # A folder holding the drive's root leaves the whole drive out.
    doc = s.json("--exclude", work, root)
    check(total(doc) == 0 and doc["drives"][0]["files"] == 0, "exclude: above the root")
    check(left_out(doc).get(native(work)) == "exclude", "exclude: above the root, listed")

    r = s.run("--exclude", "", root, expect=2)
    check(r.stderr.startswith(b"tarrow-scan: "), "exclude: empty is a usage error")


def check_left_out_agrees(s, work):
    """Each built-in exclusion the environment can place in a tree, with the home spelled
    in every way a shell leaves it (a trailing '/', "//", "/.", a link to it): what
    leftOut names is the folder as the walk meets it, and holds no file counted."""
    root = os.path.join(work, "drive")
    home = os.path.join(root, "home", "u")
    uid = os.getuid()
    make_tree(root, [(b"keep/k.doc", "Documents", 1),
                     (b"home/u/keep.doc", "Documents", 2),
                     (b"home/u/.local/share/Trash/files/t.doc", "Documents", 4),
                     (b"home/u/.cache/c.doc", "Documents", 8),
                     (b"tmp/x.doc", "Documents", 16),
                     (b".Trash/a.doc", "Documents", 32),
                     (b".Trash-%d/b.doc" % uid, "Documents", 64),
                     (b".Trash-%d/c.doc" % (uid + 1), "Documents", 128),
                     (b"asked/d.doc", "Documents", 256)])
    counted = {os.path.join(root, "keep/k.doc"), os.path.join(home, "keep.doc")}
    reasons = {"trash", "cache", "temporary", "exclude"}
    mounted = None
    if os.geteuid() == 0:
        mounted = os.path.join(root, "mnt")
        os.mkdir(mounted)
        if subprocess.run(["mount", "-t", "tmpfs", "tarrow-test", mounted]).returncode == 0:
            make_tree(mounted, [(b"m.doc", "Documents", 512)])
            reasons.add("mount")
        else:
            mounted = None
    link = os.path.join(work, "home-link")
    os.symlink(home, link)
    env = {k: v for k, v in s.env.items() if not k.startswith("XDG_")}
    try:
        for spelled in (home, home + "/", home + "//", home + "/.", link, link + "/"):
            r = subprocess.run([s.scan, "--json", "--files", "--exclude",
                                os.path.join(root, "asked"), root], capture_output=True,
                               env={**env, "HOME": spelled, "TEMP": os.path.join(root, "tmp")})
            check(r.returncode == 0, f"HOME={spelled}: exit status {r.returncode} {r.stderr!r}")
            doc = json.loads(r.stdout)
            files = {native(f["path"]) for f in doc["files"]}
            check(files == {os.fsencode(f) for f in counted},
                  f"HOME={spelled}: counted {sorted(files)}")
            left = [(native(x["path"]), x["reason"]) for x in doc["drives"][0]["leftOut"]]
            check({why for _, why in left} == reasons, f"HOME={spelled}: left out {left}")
            for path, why in left:
                check(os.path.realpath(path) == path, f"HOME={spelled}: {path} is not as walked")
                inside = [f for f in files if f.startswith(path + b"/")]
                check(not inside, f"HOME={spelled}: {why} {path} left out and counted {inside}")
    finally:
        if mounted:
            subprocess.run(["umount", "-l", mounted])


def label_bytes(text):
    """A label value of the file back as the bytes it names: the format's escapes
    first (\\\\, \\", \\n), then ours (a backslash doubled, \\xHH a byte)."""
    value, i = "", 0
    while i < len(text):
        if text[i] == "\\":
            value += {"\\": "\\", '"': '"', "n": "\n"}[text[i + 1]]
            i += 2
        else:
            value += text[i]
            i += 1
    out, i = b"", 0
    while i < len(value):
        if value.startswith("\\\\", i):
            out += b"\\"
            i += 2
        elif value.startswith("\\x", i):
            out += bytes([int(value[i + 2:i + 4], 16)])
            i += 4
        else:
            out += value[i].encode("utf-8")
            i += 1
    return out


def parse_metrics(text):
    """{(name, label bytes or None): value} of the lines of our metrics; each once."""
    out = {}
    for line in text.splitlines():
        if not line.startswith("tarrow_scan_"):
            continue
        key, value = line.rsplit(" ", 1)
        name, _, label = key.partition("{")
        if label:
            label = label_bytes(label[label.index('"') + 1:-2])
        check((name, label or None) not in out, f"metrics: {key} twice")
        out[(name, label or None)] = float(value)
    return out


def metrics_from_json(doc):
    m = {
        ("tarrow_scan_files", None): doc["total"]["files"],
        ("tarrow_scan_bytes", None): doc["total"]["bytes"],
        ("tarrow_scan_stopped", None): 1 if doc["stopped"] else 0,
        ("tarrow_scan_unreadable_folders", None):
            sum(d["unreadableFolders"] for d in doc["drives"]),
        ("tarrow_scan_start_time_seconds", None):
            int(datetime.datetime.fromisoformat(doc["startedAt"]).timestamp()),
    }
    for g in doc["groups"]:
        m[("tarrow_scan_group_files", g["name"].encode())] = g["files"]
        m[("tarrow_scan_group_bytes", g["name"].encode())] = g["bytes"]
    for d in doc["drives"]:
        root = native(d["root"])
        m[("tarrow_scan_drive_files", root)] = d["files"]
        m[("tarrow_scan_drive_bytes", root)] = d["bytes"]
        m[("tarrow_scan_drive_unreadable_folders", root)] = d["unreadableFolders"]
    return m


def compare(ours, doc, what):
    for key, value in metrics_from_json(doc).items():
        check(ours.get(key) == value, f"{what}: {key} is {ours.get(key)}, the JSON says {value}")
    check(("tarrow_scan_duration_seconds", None) in ours, f"{what}: no duration")


def look_alike_drives(work):
    """Two folders whose names differ only in how an escape would spell them: the byte
    0xFF, and a backslash with the letters xff. Each must keep a label of its own."""
    W = os.fsencode(work)
    drives = [os.path.join(W, b"bad\xff"), os.path.join(W, b"bad\\xff")]
    for i, d in enumerate(drives):
        make_tree(d, [(b"a.doc", "Documents", i + 1)])
    return [os.fsdecode(d) for d in drives]


def check_metrics(s, work):
    tree = os.path.join(work, "m")
    make_tree(tree, TREE)
    out = os.path.join(work, "prom")
    os.mkdir(out)
    # Written whole, readable by the collector's own user whatever the umask.
    old = os.umask(0o077)
    try:
        doc = s.json("--metrics", os.path.join(out, "tarrow.prom"), tree, *look_alike_drives(work))
    finally:
        os.umask(old)
    path = os.path.join(out, "tarrow.prom")
    check(os.listdir(out) == ["tarrow.prom"], f"metrics: left behind {os.listdir(out)}")
    check(stat.S_IMODE(os.lstat(path).st_mode) == 0o644, "metrics: mode 0644")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    compare(parse_metrics(text), doc, "metrics file")

    promtool = shutil.which("promtool")
    if promtool:
        r = subprocess.run([promtool, "check", "metrics"], input=text.encode(), capture_output=True)
        check(r.returncode == 0, f"promtool check metrics: {r.stdout!r} {r.stderr!r}")
    else:
        print("promtool: skipped (not installed; Debian's package prometheus has it)")

    # The user's own plain file is replaced whole, through a new file.
    before = os.lstat(path)
    s.run("--metrics", path, tree)
    check(os.lstat(path).st_ino != before.st_ino, "metrics: not replaced through a new file")

    # Anything else at the name is refused before any scan, in one line, and left as it
    # was: a link, a pipe, a folder, a second name of another file, and as root a device
    # node and another user's file.
    victim = os.path.join(work, "victim")
    with open(victim, "w") as f:
        f.write("keep")
    others = {
        "link": lambda p: os.symlink(victim, p),
        "pipe": os.mkfifo,
        "folder": os.mkdir,
        "hard link": lambda p: os.link(victim, p),
    }
    if os.geteuid() == 0:
        others["device"] = lambda p: os.mknod(p, 0o666 | stat.S_IFCHR, os.makedev(1, 3))

        def theirs(p):
            with open(p, "w") as f:
                f.write("theirs")
            os.chown(p, 65534, 65534)
        others["another user's file"] = theirs
    for what, make in others.items():
        os.unlink(path)
        make(path)
        made = os.lstat(path)
        r = s.run("--metrics", path, tree, expect=1)
        lines = r.stderr.splitlines()
        check(r.stdout == b"" and len(lines) == 1 and lines[0].startswith(b"tarrow-scan: "),
              f"metrics: {what} at the name: {r.stdout[:40]!r} {r.stderr!r}")
        now = os.lstat(path)
        check((now.st_ino, now.st_mode) == (made.st_ino, made.st_mode),
              f"metrics: the {what} at the name was replaced")
        check(os.listdir(out) == ["tarrow.prom"], f"metrics: left behind {os.listdir(out)}")
        if what == "folder":
            os.rmdir(path)
            open(path, "w").close()
        with open(victim) as f:
            check(f.read() == "keep", f"metrics: written through a {what}")

    # A link on the folder's path: refused before any scan.
    os.symlink(out, os.path.join(work, "prom-link"))
    r = s.run("--metrics", os.path.join(work, "prom-link", "tarrow.prom"), tree, expect=1)
    check(r.stdout == b"" and b"symbolic link" in r.stderr, f"metrics: link in path {r.stderr!r}")
    r = s.run("--metrics", os.path.join(work, "nowhere", "tarrow.prom"), tree, expect=1)
    check(r.stdout == b"", "metrics: missing folder")


def free_port():
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


def fetch(url):
    with urllib.request.urlopen(url, timeout=10) as r:
        return r.read().decode("utf-8")


def check_node_exporter(s, work):
    exporter = shutil.which("prometheus-node-exporter") or shutil.which("node_exporter")
    if not exporter:
        print("node_exporter: skipped (not installed; Debian's package prometheus-node-exporter)")
        return
    tree = os.path.join(work, "n")
    make_tree(tree, TREE)
    folder = os.path.join(work, "textfile")
    os.mkdir(folder)
    for attempt in range(5):
        port = free_port()
        proc = subprocess.Popen(
            [exporter, f"--web.listen-address=127.0.0.1:{port}", "--collector.disable-defaults",
             "--collector.textfile", f"--collector.textfile.directory={folder}"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            text = None
            for _ in range(300):  # until it listens, or it ended (the port was taken)
                if proc.poll() is not None:
                    break
                try:
                    text = fetch(f"http://127.0.0.1:{port}/metrics")
                    break
                except OSError:
                    time.sleep(0.1)
            if text is None:
                continue
            doc = s.json("--metrics", os.path.join(folder, "tarrow.prom"), tree,
                         *look_alike_drives(work))
            served = fetch(f"http://127.0.0.1:{port}/metrics")
            check("node_textfile_scrape_error 0" in served.splitlines(),
                  "node_exporter: textfile scrape error")
            compare(parse_metrics(served), doc, "node_exporter")
            return
        finally:
            proc.terminate()
            try:
                proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
    check(False, "node_exporter: never answered")


def check_completion(s, completion):
    def complete(*words, cwd=None):
        script = (f'source "$1"; COMP_WORDS=("${{@:2}}"); COMP_CWORD=$(($# - 2)); '
                  '_tarrow_scan; printf "%s\\n" "${COMPREPLY[@]}"')
        r = subprocess.run(["bash", "-c", script, "bash", completion, "tarrow-scan", *words],
                           capture_output=True, text=True, cwd=cwd)
        check(r.returncode == 0, f"completion {words}: {r.stderr}")
        return [x for x in r.stdout.split("\n") if x]

    check(complete("--js") == ["--json"], "completion: --js")
    check(complete("--ex") == ["--exclude"], "completion: --ex")
    # Every option --help names, and no other.
    help_text = subprocess.run([s.scan, "--help"], capture_output=True, text=True).stdout
    import re

    named = set(re.findall(r"^  (--[a-z-]+=?)", help_text, re.M))
    check(set(complete("--")) == named, f"completion: {set(complete('--')) ^ named}")
    with tempfile.TemporaryDirectory() as d:
        os.mkdir(os.path.join(d, "one folder"))
        open(os.path.join(d, "file.prom"), "w").close()
        check(complete("--exclude", "o", cwd=d) == ["one folder"], "completion: --exclude")
        check(set(complete("--metrics", "", cwd=d)) == {"one folder", "file.prom"},
              "completion: --metrics")
        check(set(complete("--backed-up", "", cwd=d)) == {"one folder", "file.prom"},
              "completion: --backed-up")
        check(complete("", cwd=d) == ["one folder"], "completion: folders to scan")
        check(complete("--", "-", cwd=d) == [], "completion: after --")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--scan", required=True)
    p.add_argument("--schema", required=True)
    p.add_argument("--completion")
    p.add_argument("checks", nargs="+")
    args = p.parse_args()
    env = {k: v for k, v in os.environ.items() if k not in ("TEMP", "TMPDIR")}
    env["TZ"] = "Europe/Berlin"
    with tempfile.TemporaryDirectory() as work:
        env["TEMP"] = os.path.join(work, "temp")
        os.mkdir(env["TEMP"])
        s = Scanner(args.scan, args.schema, env)
        for name in args.checks:
            sub = os.path.join(work, name)
            os.mkdir(sub)
            if name == "json":
                check_json(s, sub)
                check_unreadable(s, sub)
            elif name == "exclude":
                check_exclude(s, sub)
                check_left_out_agrees(s, sub)
            elif name == "metrics":
                check_metrics(s, sub)
            elif name == "node_exporter":
                check_node_exporter(s, sub)
            elif name == "completion":
                check_completion(s, args.completion)
            else:
                sys.exit(f"unknown check {name}")
    if failures:
        sys.exit(f"{len(failures)} failed")
    print("all passed:", " ".join(args.checks))


if __name__ == "__main__":
    main()
