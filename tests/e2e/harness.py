"""The real program on a real X server: a private Xvfb display with a window manager,
the program started as a user would start it, driven with xdotool, and screenshots of
its windows.

Everything a session creates lives in one temporary folder (HOME, TMPDIR and
XDG_RUNTIME_DIR point into it) and goes with the session. Every process it starts runs
in a process group of its own, which is ended whole (what a bus launcher starts goes
with it), and carries the session's mark in its environment: at the end no process
with that mark may be left (leftovers() says which were). A stand-in xdg-open comes first on PATH, so nothing the program
opens ever reaches a real browser: the addresses are recorded instead (opened_urls).
"""

import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
AT_SPI_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"  # Debian's at-spi2-core
WAIT = 15.0  # seconds for anything the desktop should do at once
SESSION_MARK = "TARROW_E2E_SESSION"  # in the environment of whatever a session starts


class Failure(AssertionError):
    pass


class Skip(Exception):
    """What a scenario needs is not on this machine; it says what."""


def check(condition, what):
    if not condition:
        raise Failure(what)
    print("ok -", what, flush=True)


def run_to_end(p, args, timeout=WAIT):
    """Waits for a started tarrow to end; answers (exit code, stderr text)."""
    try:
        _, err = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        raise Failure("tarrow %s did not end" % " ".join(args))
    return p.returncode, err.decode(errors="replace")


def wait_for(fn, what, timeout=WAIT, interval=0.05):
    """Polls fn until it answers something true, and answers that."""
    end = time.monotonic() + timeout
    while True:
        value = fn()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(interval)


class Session:
    def __init__(self, tarrow, out_dir, name, screen="1280x800", window_manager=True):
        self.tarrow = os.path.abspath(tarrow)
        self.out_dir = out_dir
        self.name = name
        self.root = tempfile.mkdtemp(prefix="tarrow-e2e-")
        self._left = []
        self.home = self._folder("home")
        self.tmp = self._folder("tmp")
        self.runtime = self._folder("runtime")
        self.bin = self._folder("bin")
        self._processes = []
        self._write_url_opener()
        self.display = None
        self._start_display(screen, window_manager)

    # ---- set-up and tear-down -------------------------------------------------------------

    def _folder(self, name):
        path = os.path.join(self.root, name)
        os.mkdir(path, 0o700)
        return path

    def _write_url_opener(self):
        log = os.path.join(self.root, "opened-urls")
        script = os.path.join(self.bin, "xdg-open")
        with open(script, "w") as f:
            f.write('#!/bin/sh\nprintf "%s\\n" "$*" >> "{}"\n'.format(log))
        os.chmod(script, 0o700)
        self._url_log = log

    def env(self, **extra):
        """The environment of a program started in this session; extra entries whose
        value is None are removed."""
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "XDG_", "WAYLAND_", "TARROW_")) and k != "TEMP"}
        env.update(HOME=self.home, TMPDIR=self.tmp, XDG_RUNTIME_DIR=self.runtime,
                   PATH=self.bin + os.pathsep + os.environ.get("PATH", "/usr/bin:/bin"),
                   QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8", BROWSER="xdg-open",
                   **{SESSION_MARK: self.root},
                   # A sanitized build reports leaks of ours, not of the desktop's libraries.
                   LSAN_OPTIONS="suppressions=" + os.path.join(HERE, "lsan.supp"))
        if self.display is not None:
            env["DISPLAY"] = ":%d" % self.display
        for key, value in extra.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return env

    def _spawn(self, args, **kwargs):
        p = subprocess.Popen(args, env=kwargs.pop("env", None) or self.env(),
                             stdout=kwargs.pop("stdout", subprocess.DEVNULL),
                             stderr=kwargs.pop("stderr", subprocess.DEVNULL),
                             start_new_session=True, **kwargs)
        self._processes.append(p)
        return p

    def _start_display(self, screen, window_manager=True):
        read_fd, write_fd = os.pipe()
        self._spawn(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen + "x24",
                     "-nolisten", "tcp", "-noreset"], pass_fds=(write_fd,))
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            number = f.readline().strip()
        if not number.isdigit():
            raise Failure("Xvfb did not start")
        self.display = int(number)
        if not window_manager:
            return
        self._spawn(["openbox", "--sm-disable"])
        wait_for(lambda: "window id" in self.x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK"),
                 "the window manager")

    def start_accessibility(self):
        """A private D-Bus session with the AT-SPI bus on it, as a desktop starts them for a
        screen reader. Answers the environment entries that lead a program there; raises
        Skip where a piece is missing or the bus does not come up."""
        for tool in ("dbus-daemon", "dbus-send", AT_SPI_BUS_LAUNCHER):
            if not shutil.which(tool):
                raise Skip("no %s: the AT-SPI bus cannot start (dbus, at-spi2-core)" % tool)
        read_fd, write_fd = os.pipe()
        self._spawn(["dbus-daemon", "--session", "--nofork", "--print-address=%d" % write_fd,
                     "--address=unix:dir=" + self._folder("dbus")], pass_fds=(write_fd,))
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            address = f.readline().strip()
        if not address:
            raise Skip("the D-Bus session bus did not start")
        bus = {"DBUS_SESSION_BUS_ADDRESS": address}
        # Not on the display: Qt 6.4 takes a bus named on the root window as joined at
        # once and never announces itself on it; found through the session bus it does.
        self._spawn([AT_SPI_BUS_LAUNCHER, "--launch-immediately"], env=self.env(DISPLAY=None, **bus))

        def a11y_address():
            r = subprocess.run(["dbus-send", "--session", "--dest=org.a11y.Bus",
                                "--print-reply=literal", "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                               env=self.env(**bus), capture_output=True, text=True, timeout=WAIT)
            return r.returncode == 0 and r.stdout.strip()
        try:
            wait_for(a11y_address, "the AT-SPI bus")
        except Failure:
            raise Skip("the AT-SPI bus did not come up")
        return bus

    def close(self):
        for p in reversed(self._processes):
            try:
                os.killpg(p.pid, signal.SIGKILL)  # its group: the process and what it started
            except ProcessLookupError:
                pass
            p.wait()
        # What left its group (a daemon of its own session) is still marked: ended too,
        # and told as left behind.
        end = time.monotonic() + 2
        while True:
            marked = self._marked_processes()
            if not marked or time.monotonic() > end:
                break
            time.sleep(0.05)
        for pid, command in marked:
            self._left.append("%d %s" % (pid, command))
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        shutil.rmtree(self.root, ignore_errors=True)

    def _marked_processes(self):
        """The processes alive with this session's mark, as (pid, command line)."""
        mark = ("%s=%s" % (SESSION_MARK, self.root)).encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if mark not in f.read().split(b"\0"):
                        continue
                with open("/proc/%s/stat" % entry, "rb") as f:
                    if f.read().rsplit(b")", 1)[-1].split()[0] == b"Z":
                        continue  # ended; its parent has not reaped it yet
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    command = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
            except OSError:
                continue
            found.append((int(entry), command))
        return found

    def leftovers(self):
        """After close: the processes of this session that were still running though
        their group had been ended."""
        return self._left

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # ---- the program ----------------------------------------------------------------------

    def start(self, *args, **env):
        """Starts tarrow with these arguments; env entries are added to its environment."""
        return self._spawn([self.tarrow, *args], env=self.env(**env),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run(self, *args, timeout=WAIT, **env):
        """Starts tarrow and waits for it to end; answers (exit code, stderr text)."""
        return run_to_end(self.start(*args, **env), args, timeout)

    def wait_exit(self, p, what, timeout=WAIT):
        try:
            p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(what + ": the program did not end")
        return p.returncode

    def kill(self, p):
        p.send_signal(signal.SIGKILL)
        p.wait()

    def opened_urls(self):
        if not os.path.exists(self._url_log):
            return []
        with open(self._url_log) as f:
            return f.read().splitlines()

    def log_folder(self):
        return os.path.join(self.tmp, "Tarrow")

    # ---- windows --------------------------------------------------------------------------

    def x(self, *args, check_rc=False):
        r = subprocess.run(args, env=self.env(), capture_output=True, text=True, timeout=WAIT)
        if check_rc and r.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def windows(self, p, title="Quenby"):
        """The visible windows of process p with this title, as X window ids."""
        out = self.x("xdotool", "search", "--onlyvisible", "--pid", str(p.pid),
                     "--name", "^%s$" % re.escape(title))
        return [int(w) for w in out.split()]

    def wait_window(self, p, title="Quenby"):
        def found():
            if p.poll() is not None:
                raise Failure("the program ended (%d) before its window showed" % p.returncode)
            return self.windows(p, title)
        return wait_for(found, "a window titled " + title)[0]

    def active_window(self):
        out = self.x("xdotool", "getactivewindow").strip()
        return int(out) if out.isdigit() else None

    def stacking(self):
        """Managed windows, bottom to top."""
        out = self.x("xprop", "-root", "_NET_CLIENT_LIST_STACKING")
        return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]

    def is_topmost(self, window):
        return self.stacking()[-1:] == [window]

    def is_minimised(self, window):
        return "Iconic" in self.x("xprop", "-id", str(window), "WM_STATE")

    def activate(self, window):
        self.x("xdotool", "windowactivate", "--sync", str(window), check_rc=True)

    def minimise(self, window):
        self.x("xdotool", "windowminimize", "--sync", str(window), check_rc=True)

    def keys(self, window, *keys):
        """Types keys into the window as the user would: it is made active first."""
        self.activate(window)
        self.x("xdotool", "key", "--clearmodifiers", *keys, check_rc=True)

    def window_class(self, window):
        """The window's WM_CLASS as (instance, class)."""
        out = self.x("xprop", "-id", str(window), "WM_CLASS")
        return tuple(re.findall(r'"([^"]*)"', out))

    def geometry(self, window):
        out = self.x("xwininfo", "-id", str(window))
        def field(name):
            return int(re.search(name + r":\s+(-?\d+)", out).group(1))
        return (field("Absolute upper-left X"), field("Absolute upper-left Y"),
                field("Width"), field("Height"))

    def other_window(self):
        """A window of another program, active, in front of everything else."""
        self._spawn(["xlogo", "-geometry", "400x400+0+0", "-title", "other program"])
        window = wait_for(lambda: [int(w) for w in self.x(
            "xdotool", "search", "--onlyvisible", "--name", "^other program$").split()],
            "another program's window")[0]
        self.activate(window)
        return window

    def screenshot(self, window, what):
        """Saves the window ("root": the whole screen) as <out>/<session>-<what>.png and
        answers the path."""
        return self.capture(window, what)[0]

    def capture(self, window, what):
        """Saves the window as screenshot() does and answers (path, width, height, RGB
        rows) of what it saved."""
        os.makedirs(self.out_dir, exist_ok=True)
        which = ["-root"] if window == "root" else ["-id", str(window)]
        raw = subprocess.run(["xwd", "-silent", *which], env=self.env(),
                             capture_output=True, timeout=WAIT, check=True).stdout
        width, height, rows = xwd_to_rgb(raw)
        path = os.path.join(self.out_dir, "%s-%s.png" % (self.name, what))
        with open(path, "wb") as f:
            f.write(png(width, height, rows))
        print("   screenshot", path, flush=True)
        return path, width, height, rows


# ---- pictures -----------------------------------------------------------------------------

def xwd_to_rgb(data):
    """Width, height and RGB rows of a true-colour ZPixmap window dump."""
    header = struct.unpack(">25I", data[:100])
    header_size, _, pixmap_format, depth, width, height = header[:6]
    byte_order, bits_per_pixel, bytes_per_line = header[7], header[11], header[12]
    red_mask, green_mask, blue_mask = header[14:17]
    ncolors = header[19]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32) or depth < 24:
        raise Failure("unexpected window dump format %d/%d bits" % (pixmap_format, bits_per_pixel))
    pixels = data[header_size + 12 * ncolors:]
    step = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"
    def shift(mask):
        return (mask & -mask).bit_length() - 1
    rs, gs, bs = shift(red_mask), shift(green_mask), shift(blue_mask)
    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + step * width]
        out = bytearray()
        for x in range(0, len(line), step):
            v = int.from_bytes(line[x:x + step], order)
            out += bytes(((v & red_mask) >> rs, (v & green_mask) >> gs, (v & blue_mask) >> bs))
        rows.append(bytes(out))
    return width, height, rows


def png(width, height, rows):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


# ---- the diagnostic log -------------------------------------------------------------------

ENTRY = re.compile(
    rb"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (\[\w+\] )? \[Thread ID: ([\d,.\xa0 ']+)\] "
    rb"\[Log #([\d,.\xa0 ']+)\] ( \[File: \.\\[^\]]+\] \[Line: \d+\])?\r\n(.*?)\r\n\r\n",
    re.S)


def read_log(path):
    """The entries of a log file as (level, file tag, message) texts, in file order."""
    with open(path, "rb") as f:
        data = f.read()
    entries, pos = [], 0
    while pos < len(data):
        m = ENTRY.match(data, pos)
        if not m:
            raise Failure("%s: not a log entry at byte %d" % (path, pos))
        level = (m.group(2) or b"").strip().decode().strip("[]")
        tag = (m.group(5) or b"").decode().strip()
        entries.append((level, tag, m.group(6).decode(errors="replace")))
        pos = m.end()
    return entries


def tagged(entries, source):
    """The entries whose file tag names this source file, as (line, message)."""
    out = []
    for level, tag, message in entries:
        m = re.fullmatch(r"\[File: \.\\%s\] \[Line: (\d+)\]" % re.escape(source), tag)
        if m:
            out.append((level, int(m.group(1)), message))
    return out
