"""A headless Wayland compositor (sway) beside a harness session, as a Wayland desktop
runs the program: the window in sway's tree (swaymsg), keys typed with wtype,
screenshots with grim.

sway refuses to run as root, so a session run as root runs the compositor and the
program as user nobody, with a private runtime folder of nobody's own. Everything lives
in one temporary folder that goes with the compositor; the processes carry the session's
mark and end with it.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

from harness import WAIT, Failure, Skip, png, run_to_end, wait_for

NOBODY = 65534
TOOLS = ("sway", "swaymsg", "grim", "wtype")


class Compositor:
    def __init__(self, session, mode, scale):
        for tool in TOOLS:
            if not shutil.which(tool):
                raise Skip("no %s: the Wayland scenario needs sway, grim and wtype" % tool)
        self.s = session
        self.scale = scale
        self.as_nobody = os.geteuid() == 0
        self.root = tempfile.mkdtemp(prefix="tarrow-wayland-")
        self._own(self.root)
        self.runtime = self.folder("runtime")
        self.home = self.folder("home")
        self.tmp = self.folder("tmp")
        config = os.path.join(self.root, "sway.config")
        with open(config, "w") as f:
            # No XWayland: a window that ends up there would be no Wayland window.
            f.write("output HEADLESS-1 mode %s scale %d\nxwayland disable\n" % (mode, scale))
        self._own(config)
        self.sock = None
        self._processes = []
        log = open(os.path.join(self.root, "sway.log"), "w")
        self.sway = self._spawn(["sway", "-c", config], stdout=log, stderr=log)
        log.close()
        try:
            self.display = wait_for(self._display, "sway's Wayland socket", timeout=10)
            self.sock = wait_for(self._ipc, "sway's IPC socket", timeout=10)
            wait_for(lambda: self.msg("-t", "get_outputs"), "sway to answer", timeout=10)
        except Failure:
            why = self.log_tail()
            self.close()
            raise Skip("the headless compositor did not start: " + why)
        # The seat has a keyboard only while a virtual one is there: one wtype holds one
        # for the whole session, so that the program binds it once, at its start, and no
        # key typed later reaches it before it has.
        self._spawn(["wtype", "-s", "3600000"])
        try:
            wait_for(lambda: "keyboard" in self.msg("-t", "get_inputs"), "the session's keyboard")
        except Failure:
            self.close()
            raise
        if subprocess.run(self._as_user(["test", "-x", self.s.tarrow]), env=self.env()).returncode:
            self.close()
            raise Skip("%s cannot run %s (a folder on its way is closed to it)"
                       % ("nobody" if self.as_nobody else "this user", self.s.tarrow))

    def folder(self, name):
        path = os.path.join(self.root, name)
        os.mkdir(path, 0o700)
        self._own(path)
        return path

    def _own(self, path):
        if self.as_nobody:
            os.lchown(path, NOBODY, NOBODY)

    def log_tail(self):
        try:
            with open(os.path.join(self.root, "sway.log")) as f:
                return " / ".join(f.read().splitlines()[-3:])
        except OSError:
            return "(no log)"

    def _display(self):
        if self.sway.poll() is not None:
            raise Failure("sway ended")
        names = [n for n in os.listdir(self.runtime) if n.startswith("wayland-")
                 and not n.endswith(".lock")]
        return names[0] if names else None

    def _ipc(self):
        names = [n for n in os.listdir(self.runtime) if n.startswith("sway-ipc.")]
        return os.path.join(self.runtime, names[0]) if names else None

    def close(self):
        # The compositor and the programs first: they write into the folder.
        for p in reversed(self._processes):
            try:
                os.killpg(p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            p.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # ---- processes ----------------------------------------------------------------------

    def env(self, **extra):
        own = dict(DISPLAY=None, HOME=self.home, TMPDIR=self.tmp, XDG_RUNTIME_DIR=self.runtime,
                   WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman",
                   QT_QPA_PLATFORM="wayland",
                   # A sanitized build still checks every access here, but not leaks: Qt's
                   # Wayland plugin leaves objects of its connection, and a buffer of a
                   # library it has unloaded by then, to the end of the process, which no
                   # suppression can name. The same program is checked for leaks on X.
                   ASAN_OPTIONS=":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                                       "detect_leaks=0"])))
        if getattr(self, "display", None):
            own["WAYLAND_DISPLAY"] = self.display
        if self.sock:
            own["SWAYSOCK"] = self.sock
        return self.s.env(**{**own, **extra})

    def _as_user(self, args):
        if not self.as_nobody:
            return list(args)
        return ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups",
                "--", *args]

    def _spawn(self, args, env=None, **kwargs):
        p = self.s._spawn(self._as_user(args), env=env or self.env(), **kwargs)
        self._processes.append(p)
        return p

    def tool(self, *args, check_rc=True, env=None):
        r = subprocess.run(self._as_user(args), env=env or self.env(), capture_output=True,
                           text=True, timeout=WAIT)
        if check_rc and r.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def msg(self, *args):
        return self.tool("swaymsg", *args, check_rc=False)

    def start(self, *args, **env):
        return self._spawn([self.s.tarrow, *args], env=self.env(**env),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run(self, *args, **env):
        return run_to_end(self.start(*args, **env), args)

    def keys(self, *keys):
        """Types keys into the focused window, one press and release each."""
        args = []
        for key in keys:
            args += ["-k", key]
        self.tool("wtype", *args)

    # ---- windows ------------------------------------------------------------------------

    def views(self, app_id):
        """The windows of this application id in sway's tree, with "floating" set where
        they float."""
        tree = json.loads(self.msg("-t", "get_tree") or "{}")
        found = []

        def walk(node, floating):
            if node.get("app_id") == app_id:
                found.append(dict(node, floating=floating))
            for child in node.get("nodes", []):
                walk(child, floating)
            for child in node.get("floating_nodes", []):
                walk(child, True)
        walk(tree, False)
        return found

    def view_of_size(self, app_id, size):
        return wait_for(lambda: [v for v in self.views(app_id)
                                 if (v["window_rect"]["width"], v["window_rect"]["height"]) == size],
                        "a %dx%d window of %s" % (size[0], size[1], app_id))[0]

    def view(self, con_id, app_id):
        return ([v for v in self.views(app_id) if v["id"] == con_id] or [None])[0]

    def capture(self, view, what, margin=0):
        """The window's content as grim takes it from the output (at the output's scale),
        with margin pixels around it, saved as <out>/<session>-<what>.png; answers (path,
        width, height, RGB rows)."""
        time.sleep(0.3)  # sway's tree is ahead of the output by a frame
        view = wait_for(lambda: ([v for v in self.views(view["app_id"]) if v["id"] == view["id"]]
                                 or [None])[0], "the window to capture")
        r, w = view["rect"], view["window_rect"]
        geometry = "%d,%d %dx%d" % (r["x"] + w["x"] - margin, r["y"] + w["y"] - margin,
                                    w["width"] + 2 * margin, w["height"] + 2 * margin)
        # Until two frames agree: under load the output may lag the tree by more.
        raw = None
        for _ in range(30):
            previous, raw = raw, subprocess.run(
                self._as_user(["grim", "-t", "ppm", "-g", geometry, "-"]), env=self.env(),
                capture_output=True, timeout=WAIT, check=True).stdout
            if raw == previous:
                break
            time.sleep(0.1)
        width, height, rows = ppm_to_rgb(raw)
        os.makedirs(self.s.out_dir, exist_ok=True)
        path = os.path.join(self.s.out_dir, "%s-%s.png" % (self.s.name, what))
        with open(path, "wb") as f:
            f.write(png(width, height, rows))
        print("   screenshot", path, flush=True)
        return path, width, height, rows


def ppm_to_rgb(data):
    """Width, height and RGB rows of a binary PPM (P6, 8 bits)."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    if fields[0] != b"P6" or fields[3] != b"255":
        raise Failure("grim wrote no 8-bit PPM")
    width, height = int(fields[1]), int(fields[2])
    rows = [data[pos + y * 3 * width:pos + (y + 1) * 3 * width] for y in range(height)]
    return width, height, rows
