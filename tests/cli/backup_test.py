#!/usr/bin/env python3
"""tarrow-scan --backed-up against the listings of the real backup tools.

  backup_test.py --scan TARROW-SCAN --schema SCHEMA restic|borg

Makes a repository in a temporary folder of its own (its password in a file there,
borg's base, cache and config folders there too), backs up part of the odd-names tree,
then adds, grows, touches and removes files, lists the snapshot with the tool, and
compares what tarrow-scan says is not backed up with what is counted here from the
same tree and the tool's own listing. Ends with status 77 (skipped) where the tool is
missing.
"""
import argparse
import datetime
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from zoneinfo import ZoneInfo

import report_test
from report_test import GROUPS, TREE, Scanner, check, make_tree, native, parse_metrics

EXTENSIONS = {
    "Documents": "doc docx xls xlsx ppt pptx pdf odf rtf pst ost qbb qdb",
    "Images": "jpg jpeg png bmp gif psd tiff",
    "Music": "mp3 wav wma aac mpa m4a aiff aif aifc",
    "Video": "avi 3gp flv mkv mov mp4 mpg wmv m4v",
}
GROUP_OF = {"." + e: g for g, exts in EXTENSIONS.items() for e in exts.split()}
ZONE = "Europe/Berlin"
# 2024-05-06 08:20:30.25 UTC: every file's last write before the backup.
BASE_NS = 1714983630_250_000_000


def group_of(name):
    ext = os.path.splitext(name)[1].decode("utf-8", "surrogateescape").lower()
    return GROUP_OF.get(ext)


def run(cmd, env, **kw):
    r = subprocess.run(cmd, env=env, capture_output=True, **kw)
    if r.returncode != 0:
        sys.exit(f"{cmd[:3]}: exit status {r.returncode}: {r.stderr.decode(errors='replace')}")
    return r.stdout


class Restic:
    name = "restic"

    def __init__(self, work, env):
        self.env = dict(env, RESTIC_REPOSITORY=os.path.join(work, "repo"),
                        RESTIC_PASSWORD_FILE=os.path.join(work, "password"),
                        RESTIC_CACHE_DIR=os.path.join(work, "cache"))
        run(["restic", "init", "-q"], self.env)

    def backup(self, paths):
        run(["restic", "backup", "-q", "--host", "testhost", *paths], self.env)

    def listing(self):
        return run(["restic", "ls", "--json", "latest"], self.env)

    @staticmethod
    def entries(text):
        """(path as the listing names it, size, mtime in seconds since 1970) of each file."""
        out = []
        for line in text.split("\n")[1:]:
            if not line:
                continue
            node = json.loads(line)
            if node["type"] == "file":
                out.append((node["path"], node.get("size", 0), seconds(node["mtime"], None)))
        return out

    @staticmethod
    def written(path):
        """A found path as restic writes it: U+FFFD for each byte that is not UTF-8."""
        return "".join("\ufffd" if 0xDC80 <= ord(c) <= 0xDCFF else c
                       for c in path.decode("utf-8", "surrogateescape"))


class Borg:
    name = "borg"

    def __init__(self, work, env):
        base = os.path.join(work, "borg")
        self.repo = os.path.join(work, "repo")
        self.env = dict(env, BORG_BASE_DIR=base, BORG_CACHE_DIR=os.path.join(base, "cache"),
                        BORG_CONFIG_DIR=os.path.join(base, "config"),
                        BORG_PASSCOMMAND="cat " + os.path.join(work, "password"),
                        BORG_DISPLAY_PASSPHRASE="n")
        run(["borg", "init", "-e", "repokey", self.repo], self.env)

    def backup(self, paths):
        run(["borg", "create", self.repo + "::one", *paths], self.env)

    def listing(self):
        return run(["borg", "list", "--json-lines", self.repo + "::one"], self.env)

    @staticmethod
    def entries(text):
        out, size = [], {}
        for line in text.split("\n"):
            if not line:
                continue
            item = json.loads(line)
            if item["type"] != "-":
                continue
            path = "/" + item["path"]
            # A further name of a file with several: the size is its first name's.
            n = size[item["source"]] if item["mode"].startswith("h") else item["size"]
            size[item["path"]] = n
            if item["healthy"]:
                out.append((path, n, seconds(item["mtime"], ZoneInfo(ZONE))))
        return out

    @staticmethod
    def written(path):
        """A found path as borg writes it: '?' for each byte that is not UTF-8."""
        return "".join("?" if 0xDC80 <= ord(c) <= 0xDCFF else c
                       for c in path.decode("utf-8", "surrogateescape"))


def seconds(text, zone):
    """Whole seconds since 1970 of a listed time, the fraction dropped."""
    m = re.fullmatch(r"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)(?:\.\d+)?(Z|[+-]\d\d:\d\d)?", text)
    at = datetime.datetime.fromisoformat(m[1] + (m[2] or "").replace("Z", "+00:00"))
    if at.tzinfo is None:
        at = at.replace(tzinfo=zone)
    return int(at.timestamp())


def verdicts(tree, tool, entries):
    """Each name of a file of the four groups: (its file, group, size, held)."""
    listed = {}
    for path, size, mtime in entries:
        listed.setdefault(path, []).append((size, mtime))
    out = {}
    for dirpath, _, names in os.walk(os.fsencode(tree)):
        for name in names:
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            group = group_of(name)
            if not group or not os.path.isfile(path) or os.path.islink(path):
                continue
            mtime = st.st_mtime_ns // 1_000_000_000
            held = any(n == st.st_size and t >= mtime
                       for n, t in listed.get(tool.written(path), []))
            out[path] = ((st.st_dev, st.st_ino), group, st.st_size, held)
    return out


def set_mtime(path, ns):
    os.utime(path, ns=(ns, ns))


def check_tool(tool_class, s, work):
    tree = os.path.join(work, "tree")
    make_tree(tree, TREE)
    T = os.fsencode(tree)
    # A second name of a file in the backup, and one outside it.
    os.link(os.path.join(T, b"docs/a b.doc"), os.path.join(T, b"docs/hard.doc"))
    os.link(os.path.join(T, b"video/x.MKV"), os.path.join(T, b"other/also.mkv"))
    for dirpath, _, names in os.walk(T):
        for name in names:
            set_mtime(os.path.join(dirpath, name), BASE_NS)
    with open(os.path.join(work, "password"), "w") as f:
        f.write("correct horse\n")
    env = dict(s.env, HOME=work, XDG_CACHE_HOME=os.path.join(work, "xdg-cache"),
               XDG_CONFIG_HOME=os.path.join(work, "xdg-config"))
    tool = tool_class(work, env)
    tool.backup([os.path.join(tree, d) for d in ("docs", "img", "video")])

    # After the backup: added, grown, touched later, touched within the same second,
    # touched earlier, removed.
    make_tree(tree, [(b"docs/new.doc", "Documents", 4), (b"img/new \xe9.png", "Images", 6)])
    with open(os.path.join(T, b"docs/a b.doc"), "ab") as f:
        f.write(b"grown")
    set_mtime(os.path.join(T, b"img/caf\xe9.jpg"), BASE_NS + 5_000_000_000)
    set_mtime(os.path.join(T, b"img/\xff\xfe.png"), BASE_NS + 500_000_000)
    set_mtime(os.path.join(T, b"video/deep/er/still/y.mp4"), BASE_NS - 100_000_000_000)
    os.unlink(os.path.join(T, b'docs/"quoted" \\ back.xlsx'))

    text = tool.listing()
    listing = os.path.join(work, "listing.json")
    with open(listing, "wb") as f:
        f.write(text)
    names = verdicts(tree, tool, tool.entries(text.decode("utf-8")))
    held = {path: v[3] for path, v in names.items()}
    check(any(held.values()) and not all(held.values()), f"{tool.name}: a test of both kinds")
    for name, want in [(b"docs/new\nline.PDF", True), (b"img/\xff\xfe.png", True),
                       (b"img/\xe6\x97\xa5\xe6\x9c\xac.GIF", True), (b"img/caf\xe9.jpg", False),
                       (b"video/deep/er/still/y.mp4", True), (b"music/-dash.mp3", False),
                       (b"docs/a b.doc", False), (b"other/also.mkv", False),
                       (b"video/x.MKV", True)]:
        check(held.get(os.path.join(T, name)) == want, f"{tool.name}: counted here, {name}")

    prom = os.path.join(work, "tarrow.prom")
    doc = s.json("--files", "--metrics", prom, "--backed-up", listing, tree)
    # A file with several names is counted once, under the name the scan met first.
    counted = [native(f["path"]) for f in doc["files"]]
    check(sorted(names[p][0] for p in counted if p in names) ==
          sorted(set(v[0] for v in names.values())), f"{tool.name}: each file once: {counted}")
    files = {g: 0 for g in GROUPS}
    size = {g: 0 for g in GROUPS}
    for path in counted:
        _, group, n, is_held = names.get(path, (None, GROUPS[0], 0, True))
        if not is_held:
            files[group] += 1
            size[group] += n
    for g in doc["groups"]:
        check(g["notBackedUp"] == {"files": files[g["name"]], "bytes": size[g["name"]]},
              f"{tool.name}: {g['name']}: {g['notBackedUp']}, counted here "
              f"{files[g['name']]} files, {size[g['name']]} bytes")
    check(doc["total"]["notBackedUp"] == {"files": sum(files.values()),
                                          "bytes": sum(size.values())},
          f"{tool.name}: total {doc['total']['notBackedUp']}")
    for f in doc["files"]:
        path = native(f["path"])
        check(f["backedUp"] == held.get(path), f"{tool.name}: {path}: backedUp {f['backedUp']}")

    backup = doc["backups"]
    check(len(backup) == 1 and backup[0]["tool"] == tool.name and backup[0]["listing"] == listing,
          f"{tool.name}: backups {backup}")
    if tool.name == "restic":
        snap = json.loads(run(["restic", "snapshots", "--json", "latest"], tool.env))[0]
        check(backup[0]["snapshot"] == snap["id"] and backup[0]["host"] == "testhost" and
              backup[0]["paths"] == snap["paths"], f"restic: backups {backup}")
        taken = datetime.datetime.fromisoformat(backup[0]["time"]).timestamp()
        check(abs(taken - seconds(snap["time"], None)) < 1, f"restic: time {backup[0]['time']}")

    with open(prom, encoding="utf-8") as f:
        metrics = parse_metrics(f.read())
    for g in doc["groups"]:
        for key in ("files", "bytes"):
            name = (f"tarrow_scan_group_not_backed_up_{key}", g["name"].encode())
            check(metrics.get(name) == g["notBackedUp"][key], f"{tool.name}: metric {name}")

    # The listing on standard input, straight from the tool.
    r = subprocess.run([s.scan, "--backed-up", "-", tree], input=text, capture_output=True,
                       env=s.env)
    last = r.stdout.decode().splitlines()[-1].split()
    check(r.returncode == 0 and last[-3:-2] == [str(sum(files.values()))],
          f"{tool.name}: from standard input: {r.stdout!r} {r.stderr!r}")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--scan", required=True)
    p.add_argument("--schema", required=True)
    p.add_argument("tool", choices=["restic", "borg"])
    args = p.parse_args()
    if not shutil.which(args.tool):
        print(f"skipped: {args.tool} is not installed (Debian's package "
              f"{'restic' if args.tool == 'restic' else 'borgbackup'})")
        sys.exit(77)
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("RESTIC_", "BORG_", "TEMP", "TMPDIR"))}
    env["TZ"] = ZONE
    with tempfile.TemporaryDirectory() as work:
        env["TEMP"] = os.path.join(work, "temp")
        os.mkdir(env["TEMP"])
        s = Scanner(args.scan, args.schema, env)
        check_tool(Restic if args.tool == "restic" else Borg, s, work)
    if report_test.failures:
        sys.exit(f"{len(report_test.failures)} failed")
    print("all passed:", args.tool)


if __name__ == "__main__":
    main()
