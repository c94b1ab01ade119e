"""End-to-end scenarios of the windowed program, each on a display of its own.

    program_test.py --tarrow BUILD/app/tarrow --out BUILD/tests/e2e/screenshots \
                    --app-id APPLICATION-ID SCENARIO

Screenshots of the windows land in the --out folder as SCENARIO-WHAT.png.
"""

import argparse
import decimal
import json
import os
import shutil
import subprocess
import sys
import time

import sharpness
import sway
from harness import HERE, WAIT, Failure, Session, Skip, check, read_log, tagged, wait_for

MAIN_SIZE = (351, 520)      # the main window: its picture and a one-pixel border
FINISH_SIZE = (415, 340)    # the finish window: its picture
WARNING_SIZE = (359, 200)   # the platform warning: its picture
OLD_KERNEL = {"TARROW_TEST_KERNEL_VERSION": "2.6.32"}
# A later start must end before it ever reaches the display: given none it would fail.
NO_DISPLAY = {"DISPLAY": ":4095"}
APP_ID = None               # --app-id


def window_of_size(s, p, size):
    return wait_for(lambda: [w for w in s.windows(p) if s.geometry(w)[2:] == size],
                    "a %dx%d window" % size)[0]


def kernel_numbers():
    major, minor = os.uname().release.split(".")[:2]
    return int(major), int("".join(ch for ch in minor if ch.isdigit()))


def start_up_statements(s):
    return tagged(read_log(os.path.join(s.log_folder(), "tarrow.log")), "Tarrow.cpp")


def single_instance(s):
    first = s.start()
    window = s.wait_window(first)
    s.screenshot(window, "first")
    # The class is what ties the window to its desktop entry (StartupWMClass) and icon.
    check(s.window_class(window) == ("tarrow", APP_ID),
          "the window's class is the application id %s %s" % (APP_ID, s.window_class(window)))
    other = s.other_window()
    check(s.active_window() == other and not s.is_topmost(window),
          "another program's window is active and in front")

    code, err = s.run(**NO_DISPLAY)
    check(code == 0, "a second start ends with 0 (%d) without opening a display %s" % (code, err))
    wait_for(lambda: s.active_window() == window and s.is_topmost(window),
             "the first window to come forward")
    check(first.poll() is None, "the first window is raised and active; the first instance runs on")
    s.screenshot("root", "first-raised")

    s.minimise(window)
    code, _ = s.run(**NO_DISPLAY)
    time.sleep(0.5)
    check(code == 0 and s.is_minimised(window), "a minimised first window stays minimised")
    s.activate(window)

    # Killed outright, the first instance leaves its slot behind: it must not count.
    s.kill(first)
    check(sorted(os.listdir(s.runtime)) != [], "a killed instance leaves its slot behind")
    third = s.start()
    window = s.wait_window(third)
    check(third.poll() is None, "a start after kill -9 of the first instance runs")
    s.activate(other)
    code, _ = s.run(**NO_DISPLAY)
    wait_for(lambda: s.active_window() == window, "the new first window to come forward")
    check(code == 0, "and later starts bring its window forward in turn")

    s.keys(window, "Escape")
    check(s.wait_exit(third, "Escape") == 0, "Escape closes the window and ends the program with 0")
    check(os.listdir(s.runtime) == [], "a normal end takes the slot and its socket away")


def debug_log(s):
    # Qt's own option comes first and is Qt's; /debug is still seen.
    p = s.start("-platform", "xcb", "/debug")
    window = s.wait_window(p)
    s.screenshot(window, "main")
    s.keys(window, "Escape")
    check(s.wait_exit(p, "Escape") == 0, "tarrow -platform xcb /debug ran and ended with 0")

    entries = read_log(os.path.join(s.log_folder(), "tarrow.log"))
    check(entries[0][:2] == ("", "") and entries[0][2].startswith("-" * 72 + "\r\n\ttarrow version is "),
          "the log starts with the version report")
    major, minor = kernel_numbers()
    check(start_up_statements(s) ==
          [("debug", 70, "OS Major Version = %d; OS Minor Version = %d" % (major, minor))],
          "then the running kernel's version, file tag Tarrow.cpp line 70, and no warning")
    check(oct(os.stat(s.log_folder()).st_mode & 0o777) == "0o700", "the log folder is private")

    shutil.rmtree(s.log_folder())
    for args in ([], ["debug"], ["--debug"], ["/debugx"], ["/tmp", "-json"]):
        p = s.start(*args)
        s.keys(s.wait_window(p), "Escape")
        s.wait_exit(p, "Escape")
        check(not os.path.exists(s.log_folder()), "no log without /debug: tarrow %s" % " ".join(args))

    # TEMP is a link in a folder others may write in (a sticky /tmp): no log is written
    # through it, and the program says why, once.
    elsewhere = os.path.join(s.root, "elsewhere")
    os.mkdir(elsewhere, 0o700)
    shared = os.path.join(s.root, "shared")
    os.mkdir(shared)
    os.chmod(shared, 0o1777)
    linked = os.path.join(shared, "linked-temp")
    os.symlink(elsewhere, linked)
    p = s.start("/debug", TEMP=linked)
    s.keys(s.wait_window(p), "Escape")
    check(s.wait_exit(p, "Escape") == 0, "tarrow /debug with TEMP at a link runs and ends with 0")
    err = p.stderr.read().decode(errors="replace")
    said = [line for line in err.splitlines() if "diagnostic log" in line]
    check(said == ["tarrow: the diagnostic log is not written: %s/Tarrow/: "
                   "a symbolic link is on the folder's path" % linked],
          "standard error says once why the log is not written: %r" % err)
    check(os.listdir(elsewhere) == [], "nothing is written through the link")

    # A link only the user could have made (in the user's private folder: a temporary
    # folder on another disk) is followed as any program follows it.
    linked = os.path.join(s.root, "linked-temp")
    os.symlink(elsewhere, linked)
    p = s.start("/debug", TEMP=linked)
    s.keys(s.wait_window(p), "Escape")
    check(s.wait_exit(p, "Escape") == 0, "tarrow /debug with TEMP at the user's link ends with 0")
    err = p.stderr.read().decode(errors="replace")
    check("diagnostic log" not in err, "nothing said of the log: %r" % err)
    check(read_log(os.path.join(elsewhere, "Tarrow", "tarrow.log"))[0][2].startswith("-" * 72),
          "the log is written where the user's link leads")

    # A full temporary folder: the log's entries are lost, said once; the window goes on.
    if os.geteuid() != 0:
        print("a full temporary folder: skipped (mounting a small tmpfs needs root)")
        return
    full = os.path.join(s.root, "full")
    os.mkdir(full)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k,mode=0700", "tarrow-e2e", full],
                   check=True)
    try:
        fd = os.open(os.path.join(full, "fill"), os.O_WRONLY | os.O_CREAT, 0o600)
        try:
            while os.write(fd, b"x" * 65536):
                pass
        except OSError:
            pass
        finally:
            os.close(fd)
        p = s.start("/debug", TEMP=full)
        window = s.wait_window(p)
        s.keys(window, "Escape")
        check(s.wait_exit(p, "Escape") == 0, "tarrow /debug into a full folder runs and ends with 0")
        err = p.stderr.read().decode(errors="replace")
        said = [line for line in err.splitlines() if "diagnostic log" in line]
        check(said == ["tarrow: the diagnostic log could not be written: %s/Tarrow/tarrow.log: "
                       "No space left on device" % full],
              "standard error says once that the log is lost: %r" % err)
    finally:
        subprocess.run(["umount", "-l", full], check=False)


def platform_warning(s):
    p = s.start("/debug", **OLD_KERNEL)
    warning = window_of_size(s, p, WARNING_SIZE)
    s.screenshot(warning, "warning")
    check(s.x("xdotool", "getwindowname", str(warning)).strip() == "Quenby",
          "on kernel 2.6 the warning opens first, titled Quenby")

    # While the warning shows no main window is published: a later start only ends.
    code, _ = s.run(**NO_DISPLAY)
    check(code == 0 and p.poll() is None and s.windows(p) == [warning],
          "a second start during the warning ends with 0 and changes nothing")

    s.keys(warning, "Return")
    main = window_of_size(s, p, MAIN_SIZE)
    s.screenshot(main, "continued")
    check(not [w for w in s.windows(p) if w == warning], "Enter right away continues to the main window")
    s.keys(main, "Escape")
    s.wait_exit(p, "Escape")
    check(start_up_statements(s) == [
        ("debug", 70, "OS Major Version = 2; OS Minor Version = 6"),
        ("debug", 82, "Message about unsupported platform was shown. The user agreed to continue"),
    ], "the log has the version, then the user's consent")

    for keys, what in ((["Escape"], "Escape"), (["Tab", "Return"], "Tab then Enter")):
        shutil.rmtree(s.log_folder())
        p = s.start("/debug", **OLD_KERNEL)
        warning = window_of_size(s, p, WARNING_SIZE)
        if keys[0] == "Tab":
            s.keys(warning, "Tab")
            s.screenshot(warning, "cancel-focused")
            keys = keys[1:]
        s.keys(warning, *keys)
        check(s.wait_exit(p, what) == 0, what + " ends the program with 0 before any main window")
        check(start_up_statements(s) == [
            ("debug", 70, "OS Major Version = 2; OS Minor Version = 6"),
            ("debug", 82, "Message about unsupported platform was shown. "
                          "The user didn't agree and close the Scanner"),
        ], "the log says the user did not agree (%s)" % what)


# The scanned tree: path under the tree, size, group (None: in no group). Sizes add up to
# round texts; a name that is not UTF-8 and one with a backslash are kept as bytes.
TREE = [
    (b"docs/report.pdf", 1 << 20, "Documents"),
    (b"docs/r\xe9sum\xe9.doc", 2 << 20, "Documents"),
    (b"docs/back\\slash and space.DOCX", 512 << 10, "Documents"),
    (b"pictures/holiday.JPG", 1 << 20, "Images"),
    (b"pictures/2024/deep/er/scan.png", 256 << 10, "Images"),
    (b"music/song.mp3", 256 << 10, "Music"),
    (b"other/readme.txt", 4096, None),
    (b"other/film.mkv.part", 4096, None),
    (b"other/noextension", 4096, None),
]


def size_text(n):
    """The size as the windows show it, worked out here independently."""
    for unit, power in (("GB", 3), ("MB", 2), ("KB", 1)):
        if n >= 1024 ** power:
            value = (decimal.Decimal(n) / 1024 ** power).quantize(
                decimal.Decimal("0.01"), rounding=decimal.ROUND_HALF_UP)
            return "%s %s" % (value, unit)
    return "%d B" % n


def make_tree(root):
    for relative, size, _ in TREE:
        path = os.path.join(os.fsencode(root), relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.truncate(size)


def whole_scan(s):
    tree = os.path.join(s.root, "tree")
    make_tree(tree)
    files = sum(1 for _, _, group in TREE if group)
    total = size_text(sum(size for _, size, group in TREE if group))

    p = s.start("/debug", TARROW_SCAN_FOLDERS=tree)
    main = window_of_size(s, p, MAIN_SIZE)
    s.screenshot(main, "idle")
    s.keys(main, "Return")  # Start has the keys from the first
    finish = window_of_size(s, p, FINISH_SIZE)
    s.screenshot(finish, "finish")
    check(s.active_window() == finish, "the finish window opens in front, active")

    # Its texts as the log has them, against the tree's own count.
    statements = lambda: tagged(read_log(os.path.join(s.log_folder(), "tarrow.log")),
                                "MainDlg.cpp")
    check(("debug", 412, "The dialog with scanning results is about to be shown: "
           "%d files, %s" % (files, total)) in statements(),
          "it shows %d files, %s" % (files, total))

    # The banner hands the offer to the desktop's opener and ends the finish window.
    s.x("xdotool", "mousemove", "--window", str(finish), "200", "235", "click", "1",
        check_rc=True)
    wait_for(s.opened_urls, "the offer to be opened")
    check(s.opened_urls() == ["https://www.quenby.app/backup-offer"],
          "a banner click opens the offer address, once")
    wait_for(lambda: s.windows(p) == [main], "the finish window to close")
    s.screenshot(main, "finished")

    s.keys(main, "alt+c")
    check(s.wait_exit(p, "Close") == 0, "Close ends the program with 0")

    # The lists, byte for byte: one line per file with CR LF, in no particular order.
    for group in ("Documents", "Images", "Music", "Video"):
        expected = sorted(os.path.join(os.fsencode(tree), relative) + b"\r\n"
                          for relative, _, g in TREE if g == group)
        path = os.path.join(s.log_folder(), group + ".log")
        if not expected:
            check(not os.path.exists(path), "no list for %s, which has no files" % group)
            continue
        with open(path, "rb") as f:
            data = f.read()
        lines = sorted(line + b"\r\n" for line in data.split(b"\r\n")[:-1])
        check(data.endswith(b"\r\n") and lines == expected,
              "%s.log lists its %d files byte for byte" % (group, len(expected)))

    check(statements() == [
        ("debug", 273, "Main dialog is initialized"),
        ("debug", 493, "The user Start scanning."),
        ("debug", 372, "EnumFinish message received."),
        ("debug", 412, "The dialog with scanning results is about to be shown: "
                       "%d files, %s" % (files, total)),
        ("debug", 282, "The user pressed Close button"),
        ("debug", 538, "Stopping scanning."),
        ("debug", 290, "All threads finished. Close application."),
    ], "the main window's statements are logged in order")


# Points of the idle main window, from its top-left corner (the border included), that a
# click must not turn into a move: the disabled Stop, the picture, a disabled details
# button.
QUICK_CLICKS = (("the disabled Stop", 150, 495), ("the picture", 340, 12),
                ("a disabled details button", 318, 237))


def quick_click(s):
    p = s.start()
    main = window_of_size(s, p, MAIN_SIZE)
    where = s.geometry(main)[:2]
    for what, x, y in QUICK_CLICKS:
        # Press and release at once, as a tap-to-click touchpad does, then the pointer
        # moves on with no button held.
        s.x("xdotool", "mousemove", "--window", str(main), str(x), str(y), "click", "1",
            check_rc=True)
        for dx, dy in ((40, 30), (90, 60), (-30, 80)):
            s.x("xdotool", "mousemove_relative", "--", str(dx), str(dy), check_rc=True)
            time.sleep(0.1)
        time.sleep(0.3)
        check(s.geometry(main)[:2] == where,
              "a quick click on %s, then the pointer moving on, leaves the window at %s (%s)"
              % (what, where, s.geometry(main)[:2]))
    s.screenshot("root", "after-clicks")

    # A drag by the picture still moves it, the point grabbed staying under the pointer.
    s.x("xdotool", "mousemove", "--window", str(main), "340", "12", "mousedown", "1",
        check_rc=True)
    for _ in range(8):
        s.x("xdotool", "mousemove_relative", "--", "10", "6", check_rc=True)
        time.sleep(0.05)
    time.sleep(0.2)
    s.x("xdotool", "mouseup", "1", check_rc=True)
    moved = wait_for(lambda: (lambda x, y: (x - where[0], y - where[1])
                              if x - where[0] >= 30 and y - where[1] >= 18 else None)(
                                  *s.geometry(main)[:2]), "the window to follow a drag")
    time.sleep(0.3)
    moved = tuple(a - b for a, b in zip(s.geometry(main)[:2], where))
    # The window stays under the point that was grabbed: moved the whole way, not from
    # where the pointer had got to once it was a drag.
    check(abs(moved[0] - 80) <= 1 and abs(moved[1] - 48) <= 1,
          "a drag of 80 by 48 pixels moves the window by as much (%d, %d)" % moved)
    s.x("xdotool", "key", "--clearmodifiers", "alt+c", check_rc=True)
    check(s.wait_exit(p, "Alt+C") == 0, "the next key, Alt+C, still closes the window")


def no_display(s):
    cases = ((":4095", "QT_QPA_PLATFORM"), (":4095", None), ("", None), (None, None),
             ("garbage!", None))
    for display, keep in cases:
        env = {"DISPLAY": display}
        if keep is None:
            env["QT_QPA_PLATFORM"] = None  # Qt chooses, as it does for a user
        code, err = s.run("/debug", **env)
        what = "DISPLAY %s" % ("unset" if display is None else repr(display))
        lines = err.splitlines()
        check(code == 1 and len(lines) == 1 and "no display could be opened" in lines[0]
              and ("DISPLAY is not set" if display is None else '"%s"' % display) in lines[0],
              "%s: one line that names the display, exit 1 (%d: %r)" % (what, code, err))
        check(os.listdir(s.runtime) == [] and os.listdir(s.tmp) == [],
              "%s: no instance slot, log or folder is left behind" % what)
    # A platform whose plugin is missing is named, not the display.
    missing = ["nosuchplatform"]
    if not os.path.exists("/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"):
        missing.append("wayland")
    for platform in missing:
        code, err = s.run(QT_QPA_PLATFORM=platform)
        lines = err.splitlines()
        check(code == 1 and len(lines) == 1 and "no display could be opened" in lines[0]
              and 'platform plugin "%s" is not installed' % platform in lines[0],
              "platform %s: one line that names the missing plugin (%d: %r)"
              % (platform, code, err))
    # A later start with a display takes the slot and runs as usual.
    p = s.start()
    window = s.wait_window(p)
    s.keys(window, "Escape")
    check(s.wait_exit(p, "Escape") == 0, "a later start with a display runs and ends with 0")


# Parts of the main window that are pictures alone, no live text: the title strip, the
# banner and the button strip, as (x, y, width, height) in its client area (inside the
# one-pixel border).
PICTURE_BOXES = {"title strip": (0, 0, 349, 56), "banner": (14, 120, 322, 74),
                 "button strip": (0, 466, 349, 52)}
# How much steeper the edges of the pictures drawn for scale 2 must be than those of the
# 1x window enlarged: the same edge spread over one pixel instead of two is twice as
# steep; text, rounded corners and gradients leave less.
SHARPER_BY = 1.3
# The least share of edge weight inside the 1x pixels: 1x pictures drawn with their
# pixels repeated have steep edges too, but none there (text and curves drawn for
# scale 2 put 12 to 45 % there).
FINER_AT_LEAST = 0.05


def high_density(s):
    """The main window at scale 2 against the 1x window enlarged to the same size, in the
    same run: same place, same size in device-independent pixels, and its pictures
    measurably sharper. At 1.5 the window keeps its place and size as well."""
    figures = {}
    for factor in ("1", "2", "1.5"):
        p = s.start(QT_SCALE_FACTOR=factor)
        expected = tuple(round(n * float(factor)) for n in MAIN_SIZE)
        window = s.wait_window(p)
        size = wait_for(lambda: (lambda g: g[2:] if abs(g[2] - expected[0]) <= 1 and
                                 abs(g[3] - expected[1]) <= 1 else None)(s.geometry(window)),
                        "a window of about %dx%d" % expected)
        check(True, "at scale %s the main window is %dx%d device pixels" % (factor, *size))
        _, width, height, rows = s.capture(window, "scale-" + factor)
        if factor != "1.5":
            figures[factor] = sharpness.luminance(width, height, rows)
        s.kill(p)

    sharp = figures["2"]
    enlarged = sharpness.double(figures["1"])
    check(len(sharp) == len(enlarged) and len(sharp[0]) == len(enlarged[0]),
          "the scale-2 window is exactly the 1x window's size doubled")
    for what, (x, y, cx, cy) in PICTURE_BOXES.items():
        box = (2 * (x + 1), 2 * (y + 1), 2 * cx, 2 * cy)
        a, b = sharpness.edge_sharpness(sharp, box), sharpness.edge_sharpness(enlarged, box)
        fine = sharpness.finer_than_half(sharp, box)
        print("   edge sharpness of the %s: %.1f at scale 2, %.1f at 1x enlarged (%.2fx); "
              "%.0f %% of its edges inside 1x pixels" % (what, a, b, a / b, 100 * fine),
              flush=True)
        check(a >= SHARPER_BY * b, "the %s at scale 2 is at least %.1f times as sharp as "
              "the 1x window enlarged" % (what, SHARPER_BY))
        check(fine >= FINER_AT_LEAST, "the %s at scale 2 has detail finer than a 1x pixel"
              % what)


high_density.screen = "1600x1200"  # the whole window at scale 2, 702x1040

# ---- a screen reader over AT-SPI -----------------------------------------------------------

READER = os.path.join(HERE, "atspi_reader.py")
GROUPS = ("Documents", "Images", "Music", "Video")
MAIN_HEADING = "Count what a backup would save"  # texts of the pictures, told to readers
FINISH_HEADING = "Is all of this backed up?"


def reader_python():
    """An interpreter that has pyatspi: this one, or the system's, which Debian's
    python3-pyatspi is for."""
    for python in (sys.executable, "/usr/bin/python3"):
        if python and os.path.exists(python) and subprocess.run(
                [python, "-c", "import pyatspi"], capture_output=True).returncode == 0:
            return python
    raise Skip("python3-pyatspi is not installed")


def windows_of(app):
    """Every accessible of each window of the application, in tree order."""
    def walk(node, out):
        for child in node["children"]:
            out.append(child)
            walk(child, out)
        return out
    return [walk(window, [window]) for window in app["children"]]


def window_with(windows, name):
    """The accessibles of the one window that has something of that name."""
    found = [w for w in windows if any(n["name"] == name for n in w)]
    check(len(found) == 1, "one window has %r" % name)
    return found[0]


def one(nodes, name, role):
    found = [n for n in nodes if n["name"] == name and n["role"] == role]
    check(len(found) == 1, "a reader finds one %s named %r" % (role, name))
    return found[0]


# A screen reader answers its user at once: a press it waits longer for has frozen it.
PRESS_RETURNS_WITHIN = 1.0  # seconds


class Reader:
    """A screen reader on the session's AT-SPI bus, reading one program."""

    def __init__(self, s, p, python, bus):
        self.s, self.p, self.python, self.bus = s, p, python, bus

    def run(self, *args, timeout=WAIT):
        return subprocess.run([self.python, READER, str(self.p.pid), *args],
                              env=self.s.env(**self.bus), capture_output=True, text=True,
                              timeout=timeout)

    def dump(self):
        """Every window of the program, each as its accessibles in tree order."""
        r = wait_for(lambda: (lambda r: r if r.returncode == 0 else None)(self.run("dump")),
                     "the program on the AT-SPI bus")
        return windows_of(json.loads(r.stdout))

    def press(self, name, role="push button", within=None):
        """Presses the control through its action; checks that the call came back within
        PRESS_RETURNS_WITHIN seconds, as a reader needs, and that it was pressed."""
        r = self.run("press", name, role, *([within] if within else []),
                     timeout=WAIT + 30)  # longer than the bus's own wait for a reply
        seconds = float(r.stdout.strip() or "inf")
        check(r.returncode == 0 and seconds <= PRESS_RETURNS_WITHIN,
              "pressing %r through its action returns within %.1f s (%.3f s) %s" %
              (name, PRESS_RETURNS_WITHIN, seconds, r.stderr.strip()))


def screen_reader(s):
    python = reader_python()
    bus = s.start_accessibility()
    tree = os.path.join(s.root, "tree")
    make_tree(tree)
    p = s.start(TARROW_SCAN_FOLDERS=tree, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", **bus)
    main = window_of_size(s, p, MAIN_SIZE)
    reader = Reader(s, p, python, bus)
    dump = reader.dump

    nodes = window_with(dump(), MAIN_HEADING)
    start = one(nodes, "Start", "push button")
    check(start["actions"][:1] == ["Press"] and "focused" in start["states"],
          "Start can be pressed and has the keyboard focus")
    check("enabled" not in one(nodes, "Stop", "push button")["states"], "Stop is disabled")
    one(nodes, "Close", "push button")
    for group in GROUPS:
        check("enabled" not in one(nodes, "Get Details: " + group, "push button")["states"],
              "the details of %s are named by their group and disabled" % group)
        check(one(nodes, group + " extensions", "link")["description"].startswith("*."),
              "the ? of %s is a link whose description lists the extensions" % group)
    for row in GROUPS + ("Total",):
        for what in ("files", "size"):
            check(one(nodes, "%s %s" % (row, what), "label").get("text") == "-",
                  "%s %s reads -" % (row, what))
    check(one(nodes, "Quenby", "link")["description"] != "", "the banner is a link, described")
    one(nodes, "Scan progress", "progress bar")
    one(nodes, MAIN_HEADING, "label")

    # Start pressed through its action, while listening to what the values announce.
    listener = subprocess.Popen([python, READER, str(p.pid), "listen"], env=s.env(**bus),
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
    try:
        check(listener.stderr.readline().strip() == "listening", "a reader listens")
        reader.press("Start")
        finish = window_of_size(s, p, FINISH_SIZE)
        heard = json.loads(listener.communicate("\n", timeout=WAIT)[0])
    finally:
        if listener.poll() is None:
            listener.kill()
            listener.wait()
    s.screenshot(finish, "finish")

    counts = {g: sum(1 for _, _, group in TREE if group == g) for g in GROUPS}
    sizes = {g: sum(size for _, size, group in TREE if group == g) for g in GROUPS}
    expected = {}
    for g in GROUPS:
        expected[g + " files"] = str(counts[g]) if counts[g] else "-"
        expected[g + " size"] = size_text(sizes[g]) if counts[g] else "-"
    expected["Total files"] = str(sum(counts.values()))
    expected["Total size"] = size_text(sum(sizes.values()))
    windows = dump()
    nodes = window_with(windows, MAIN_HEADING)
    for name, text in expected.items():
        check(one(nodes, name, "label").get("text") == text,
              "after the scan %s reads %s" % (name, text))

    announced = [text for name, text in heard if name == "Total files"]
    check(announced[-1:] == [expected["Total files"]] and
          len(announced) <= int(expected["Total files"]),
          "Total files was announced as it grew, at most once a file, last as %s (%s)" %
          (expected["Total files"], announced))
    check(not [n for n, _ in heard if n == "Video files"], "Video, which found nothing, was silent")

    # The finish window: its picture's texts, the results under their captions, the banner.
    nodes = window_with(windows, FINISH_HEADING)
    check(nodes[0]["role"] == "dialog" and nodes[0]["name"] == "Quenby",
          "the finish window is a dialog named Quenby")
    check(one(nodes, "Files found", "label").get("text") == "%s files" % expected["Total files"]
          and one(nodes, "Total size", "label").get("text") == expected["Total size"],
          "it reads Files found: %s files, Total size: %s" %
          (expected["Total files"], expected["Total size"]))
    check("backing up" in one(nodes, "Quenby", "link")["description"],
          "its banner is a link, described by its picture's words")
    check([n["name"] for n in nodes if n["role"] == "label"][:1] == [FINISH_HEADING] and
          one(nodes, "Close", "push button")["actions"][:1] == ["Press"],
          "its heading is read first, and Close can be pressed")
    # The finish window keeps the mouse and keys from the main window, and a reader's
    # presses too: its Close does nothing while the finish window is open.
    reader.press("Close", within=MAIN_HEADING)
    time.sleep(0.5)
    check(p.poll() is None and sorted(s.windows(p)) == sorted([main, finish]),
          "the main window's Close does nothing while the finish window is open")
    reader.press("Close", within=FINISH_HEADING)
    wait_for(lambda: s.windows(p) == [main], "the finish window to close")
    time.sleep(0.5)
    check(p.poll() is None and s.windows(p) == [main], "and the main window stays open")

    # Each details window opens modally: the press returns first, then the window opens,
    # and its Close, pressed too, ends it.
    for group in GROUPS:
        if not expected[group + " files"].isdigit():
            continue
        reader.press("Get Details: " + group)
        wait_for(lambda: len(s.windows(p)) == 2, "the details of %s to open" % group)
        table = one(window_with(dump(), group), group, "table")
        check(table["rows"] == counts[group], "the details of %s list its %d files" %
              (group, counts[group]))
        reader.press("Close", within=group)
        wait_for(lambda: s.windows(p) == [main], "the details of %s to close" % group)

    reader.press("Close", within=MAIN_HEADING)
    check(s.wait_exit(p, "Close") == 0,
          "the main window's Close, pressed through its action, ends the program with 0")
    check(s.opened_urls() == [], "and nothing was opened on the way")


def user_locale(s):
    """Under a locale whose decimal separator is a comma, sizes read with a point until
    the diagnostic log switches the program to the user's locale: without /debug the
    main and the finish window say 1.50 KB, with it 1,50 KB."""
    if "de_DE.utf8" not in subprocess.run(["locale", "-a"], capture_output=True,
                                          text=True).stdout.split():
        raise Skip("the locale de_DE.UTF-8 is not installed (scripts/install-deps.sh)")
    python = reader_python()
    bus = s.start_accessibility()
    tree = os.path.join(s.root, "tree")
    os.makedirs(os.path.join(tree, "docs"))
    with open(os.path.join(tree, "docs", "a.doc"), "wb") as f:
        f.truncate(1536)
    for args, text in (([], "1.50 KB"), (["/debug"], "1,50 KB")):
        what = " ".join(["tarrow", *args, "under de_DE.UTF-8"])
        p = s.start(*args, TARROW_SCAN_FOLDERS=tree, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                    LC_ALL="de_DE.UTF-8", **bus)
        main = window_of_size(s, p, MAIN_SIZE)
        reader = Reader(s, p, python, bus)
        reader.press("Start")
        finish = window_of_size(s, p, FINISH_SIZE)
        s.screenshot(finish, "finish" + "".join(a.strip("/") for a in args))
        windows = reader.dump()
        nodes = window_with(windows, MAIN_HEADING)
        check(one(nodes, "Documents size", "label").get("text") == text and
              one(nodes, "Total size", "label").get("text") == text,
              "%s: the main window reads %s" % (what, text))
        check(one(window_with(windows, FINISH_HEADING), "Total size", "label").get("text") == text,
              "%s: the finish window reads %s" % (what, text))
        reader.press("Close", within=FINISH_HEADING)
        wait_for(lambda: s.windows(p) == [main], "the finish window to close")
        reader.press("Close", within=MAIN_HEADING)
        check(s.wait_exit(p, "Close") == 0, "%s ends with 0" % what)


# The Documents details button in the main window, from the window's corner (its
# one-pixel border included): x, y, width, height.
DOCUMENTS_DETAILS = (305, 220, 26, 35)


def keyboard_focus(s):
    """On a display without a window manager nobody hands the focus back to the main
    window when the finish window closes; the keys still reach it. Tab onto the details
    of Documents shows that button's focus picture (its hover picture), as on any
    desktop."""
    tree = os.path.join(s.root, "tree")
    make_tree(tree)
    p = s.start(TARROW_SCAN_FOLDERS=tree)
    main = window_of_size(s, p, MAIN_SIZE)
    x, y, width, height = DOCUMENTS_DETAILS
    def button_face(what):
        _, _, _, rows = s.capture(main, what)
        return [row[3 * x:3 * (x + width)] for row in rows[y:y + height]]

    # Without a window manager the keys go to the window under the pointer.
    s.x("xdotool", "mousemove", "--window", str(main), "60", "120", check_rc=True)
    s.x("xdotool", "key", "Return", check_rc=True)  # Start
    finish = window_of_size(s, p, FINISH_SIZE)
    s.x("xdotool", "mousemove", "--window", str(finish), "60", "120", "key", "Escape",
        check_rc=True)
    wait_for(lambda: s.windows(p) == [main], "the finish window to close")
    s.x("xdotool", "mousemove", "--window", str(main), "60", "120", check_rc=True)
    time.sleep(0.3)
    normal = button_face("details-normal")
    s.x("xdotool", "key", "Tab", "Tab", check_rc=True)  # Start, Close, Documents' details
    time.sleep(0.3)
    focused = button_face("details-focused")
    s.x("xdotool", "mousemove", "--window", str(main), str(x + width // 2),
        str(y + height // 2), check_rc=True)
    s.x("xdotool", "key", "Tab", check_rc=True)  # the focus on to the Images details
    time.sleep(0.3)
    hovered = button_face("details-hovered")
    check(focused != normal and focused == hovered,
          "the details button the keys reach shows its focus picture, the hover picture")


keyboard_focus.window_manager = False


UDISKS_STAND_IN = None      # --udisks-stand-in
NOBODY = 65534


def private_system_bus(s):
    """A private bus standing as the system's, anyone may own a name and call: its
    address."""
    folder = os.path.join(s.root, "bus")
    os.mkdir(folder, 0o755)
    address = "unix:path=" + os.path.join(folder, "system_bus_socket")
    config = os.path.join(folder, "system-bus.conf")
    with open(config, "w") as f:
        f.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"'
                ' "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">'
                "<busconfig><type>system</type><listen>%s</listen><auth>EXTERNAL</auth>"
                '<policy context="default"><allow user="*"/><allow own="*"/>'
                '<allow send_destination="*"/><allow receive_sender="*"/></policy></busconfig>'
                % address)
    daemon = s._spawn(["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"],
                      stdout=subprocess.PIPE)
    check(daemon.stdout.readline().strip() != b"", "a private system bus runs")
    return address


class NobodysDrive:
    """An ext4 volume on a loop device mounted in the session, holding TREE, and the
    window started as the user nobody, who may not open the device, with its own home
    and temporary folders."""

    def __init__(self, s, *tools):
        for tool in ("mkfs.ext4", "mount", "umount", "findmnt", "dbus-daemon", "setpriv") + tools:
            if not shutil.which(tool):
                raise Skip(tool + " is not installed")
        if os.geteuid() != 0:
            raise Skip("needs root to mount an image and to start the window as another user")
        self.s = s
        os.chmod(s.root, 0o711)  # the user's own folders lie below
        user = os.path.join(s.root, "user")
        os.mkdir(user, 0o755)
        self.folders = {}
        for name in ("home", "tmp", "runtime"):
            self.folders[name] = os.path.join(user, name)
            os.mkdir(self.folders[name], 0o700)
            os.chown(self.folders[name], NOBODY, NOBODY)
        self.log = os.path.join(self.folders["tmp"], "Tarrow", "tarrow.log")
        image = os.path.join(s.root, "volume.img")
        self.drive = os.path.join(s.root, "drive")
        os.mkdir(self.drive)
        subprocess.run(["truncate", "-s", "32M", image], check=True)
        subprocess.run(["mkfs.ext4", "-q", image], check=True)
        if subprocess.run(["mount", "-o", "loop", image, self.drive]).returncode != 0:
            raise Skip("cannot mount a loop device here")
        make_tree(self.drive)
        self.device = subprocess.run(["findmnt", "-no", "SOURCE", self.drive],
                                     capture_output=True, text=True, check=True).stdout.strip()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        subprocess.run(["umount", self.drive])

    def start_window(self, address):
        env = self.s.env(HOME=self.folders["home"], TMPDIR=self.folders["tmp"],
                         XDG_RUNTIME_DIR=self.folders["runtime"], TARROW_SCAN_FOLDERS=self.drive,
                         DBUS_SYSTEM_BUS_ADDRESS=address)
        return self.s._spawn(["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                              "--clear-groups", "--inh-caps=-all", "--", self.s.tarrow, "/debug"],
                             env=env)

    def scan(self, p, main, what):
        """Start, the scan to its end, the finish window closed: what it showed."""
        s = self.s
        s.keys(main, "Return")  # Start
        finish = window_of_size(s, p, FINISH_SIZE)
        s.screenshot(finish, what)
        s.keys(finish, "Escape")
        wait_for(lambda: s.windows(p) == [main], "the finish window to close")
        return [m for _, line, m in tagged(read_log(self.log), "MainDlg.cpp") if line == 412][-1]

    def check_answer(self, answer, tables):
        """The log says the service's answer, and how often the table was read so far."""
        entries = read_log(self.log)
        said = self.drive + " \u2014 Read access to the volume " + answer
        check(any(level == "debug" and line in (209, 210) and message.startswith(said)
                  for level, line, message in tagged(entries, "EnumMgr.cpp")),
              "the log says the service's answer: " + answer)
        read = [m for _, line, m in tagged(entries, "ExtEnum.cpp") if line == 60]
        check(len(read) == tables, "the drive's table is read only where granted")


def tree_shown():
    files = sum(1 for _, _, group in TREE if group)
    total = size_text(sum(size for _, size, group in TREE if group))
    return "The dialog with scanning results is about to be shown: %d files, %s" % (files, total)


def disk_service(s):
    """A user who may not open the device of an ext4 drive: Start asks the disk service
    (a stand-in on a private bus standing as the system's) for it. Granted, the drive is
    read through its table; refused, it is walked; the window shows the same either way."""
    if not UDISKS_STAND_IN:
        raise Skip("no stand-in disk service given (--udisks-stand-in)")
    with NobodysDrive(s) as nobody:
        address = private_system_bus(s)
        p = nobody.start_window(address)
        main = window_of_size(s, p, MAIN_SIZE)
        shown = []
        for mode, answer in (("grant", "is granted"),
                             ("refuse", "is not granted: "
                              "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed")):
            service = s._spawn([UDISKS_STAND_IN, mode, nobody.device],
                               env=s.env(DBUS_SYSTEM_BUS_ADDRESS=address), stdout=subprocess.PIPE)
            check(service.stdout.readline().strip() == b"ready", "the stand-in " + mode + "s")
            shown.append(nobody.scan(p, main, mode))
            service.kill()
            service.wait()
            nobody.check_answer(answer, 1)  # the log holds both scans: the first read it
        check(shown == [tree_shown()] * 2,
              "read through the table or walked, the window shows the same: " + tree_shown())
        s.keys(main, "alt+c")
        check(s.wait_exit(p, "Close") == 0, "Close ends the program with 0")


POLKITD = "/usr/lib/polkit-1/polkitd"  # Debian's
UDISKSD = "/usr/libexec/udisks2/udisksd"
POLKIT_RULES = "/etc/polkit-1/rules.d"


def disk_service_system(s):
    """The same with the system's own disk service and authority, udisksd and polkitd,
    on a private system bus: a rule of the authority's grants nobody the opening of
    devices, as an administrator's password would. Each runs in a mount namespace of its
    own, where the rule and udev's entry for the loop device (no udevd runs here) are
    mounted over the machine's; nothing of the machine's is changed."""
    for program in (POLKITD, UDISKSD):
        if not os.access(program, os.X_OK):
            raise Skip(program + " is not installed (polkitd, udisks2)")
    if not os.path.isdir(POLKIT_RULES):
        raise Skip(POLKIT_RULES + " is missing")
    with NobodysDrive(s, "unshare", "dbus-send") as nobody:
        address = private_system_bus(s)
        rules = os.path.join(s.root, "polkit-rules")
        os.mkdir(rules, 0o755)
        with open(os.path.join(rules, "10-tarrow-test.rules"), "w") as f:
            f.write('polkit.addRule(function(action, subject) {\n'
                    '    if (action.id.indexOf("org.freedesktop.udisks2.open-device") == 0 &&\n'
                    '        subject.user == "nobody")\n'
                    '        return polkit.Result.YES;\n'
                    '});\n')
        os.chmod(os.path.join(rules, "10-tarrow-test.rules"), 0o644)
        udev = os.path.join(s.root, "udev-data")
        os.mkdir(udev, 0o755)
        rdev = os.stat(nobody.device).st_rdev
        with open(os.path.join(udev, "b%d:%d" % (os.major(rdev), os.minor(rdev))), "w") as f:
            f.write("I:1\nE:ID_FS_TYPE=ext4\nE:ID_FS_USAGE=filesystem\n")
        env = s.env(DBUS_SYSTEM_BUS_ADDRESS=address)
        s._spawn(["unshare", "-m", "sh", "-c",
                  'mount --bind "$1" %s && exec %s' % (POLKIT_RULES, POLKITD), "sh", rules],
                 env=env)
        # A /run of its own: udev's entries, and whatever udisksd keeps there.
        s._spawn(["unshare", "-m", "sh", "-c",
                  'mount -t tmpfs tmpfs /run && mkdir -p /run/udev/data && '
                  'cp "$1"/* /run/udev/data/ && touch /run/udev/control && exec %s' % UDISKSD,
                  "sh", udev], env=env)

        def has_owner(name):
            r = subprocess.run(["dbus-send", "--system", "--print-reply",
                                "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus.NameHasOwner", "string:" + name],
                               env=env, capture_output=True, text=True)
            return "boolean true" in r.stdout
        for name in ("org.freedesktop.PolicyKit1", "org.freedesktop.UDisks2"):
            try:
                wait_for(lambda: has_owner(name), name + " on the private bus")
            except Failure:
                raise Skip(name + " could not be started on a private bus here")

        p = nobody.start_window(address)
        main = window_of_size(s, p, MAIN_SIZE)
        check(nobody.scan(p, main, "granted") == tree_shown(),
              "the window shows what the walk shows: " + tree_shown())
        nobody.check_answer("is granted", 1)
        s.keys(main, "alt+c")
        check(s.wait_exit(p, "Close") == 0, "Close ends the program with 0")


# ---- a Wayland desktop -------------------------------------------------------------------

WAYLAND_TOKEN = None        # --wayland-token
# Of the pixels of the window on Wayland at scale 1, the share that may differ from the
# same window on Xvfb: none should (the same pictures, drawn by the same code).
SAME_PICTURE_AT_MOST = 0.001


def differing(rows_a, rows_b, floor=16):
    """The share of pixels whose colour differs by more than floor in some channel."""
    n = differ = 0
    for a, b in zip(rows_a, rows_b):
        for i in range(0, min(len(a), len(b)), 3):
            n += 1
            if max(abs(a[i + k] - b[i + k]) for k in range(3)) > floor:
                differ += 1
    return differ / n if n else 1.0


def on_wayland(s, scale):
    """The program as a Wayland desktop runs it (sway, headless): the main window floats
    at its fixed size and keeps it, shows the pictures it shows on Xvfb (at scale 2 drawn
    for the finer pixels), scans by keyboard and opens its details; a later start with
    a launcher's activation token activates the first window, one without asks for
    attention (sway marks it urgent)."""
    if not WAYLAND_TOKEN:
        raise Skip("no --wayland-token: nothing to hand a later start a token with")
    # What the pictures are on Xvfb, in the same run.
    x11 = s.start()
    _, _, _, reference = s.capture(window_of_size(s, x11, MAIN_SIZE), "xvfb")
    s.kill(x11)

    with sway.Compositor(s, "1280x800" if scale == 1 else "2560x1600", scale) as w:
        tree = w.folder("tree")
        make_tree(tree)
        first = w.start(TARROW_SCAN_FOLDERS=tree)
        main = w.view_of_size(APP_ID, MAIN_SIZE)
        check(main["floating"], "the main window floats: a tiling compositor gives it no tile")
        # sway 1.7 enlarges the frame it was asked to, and centres the window in it; the
        # window itself, what the program draws, keeps its size.
        w.msg("[con_id=%d]" % main["id"], "resize", "set", "700", "900")
        time.sleep(0.3)
        size = (lambda r: (r["width"], r["height"]))(w.view(main["id"], APP_ID)["geometry"])
        check(size == MAIN_SIZE, "after swaymsg resize the window is still %dx%d (%dx%d)"
              % (*MAIN_SIZE, *size))
        w.msg("[con_id=%d]" % main["id"], "resize", "set", *map(str, MAIN_SIZE))
        # Centred, the window may lie half a pixel off where sway's tree says; placed, not.
        w.msg("[con_id=%d]" % main["id"], "move", "position", "100", "100")
        main = wait_for(lambda: [v for v in w.views(APP_ID) if v["id"] == main["id"] and
                                 (v["rect"]["x"], v["rect"]["y"]) == (100, 100)],
                        "the window at 100,100")[0]

        def pictures(width, height, rows):
            """(holds, text) of each picture box against the same box on Xvfb."""
            found = []
            if scale == 1:
                for what, (x, y, cx, cy) in PICTURE_BOXES.items():
                    inside = lambda rs: [r[3 * (x + 1):3 * (x + 1 + cx)]
                                         for r in rs[y + 1:y + 1 + cy]]
                    share = differing(inside(rows), inside(reference))
                    found.append((share <= SAME_PICTURE_AT_MOST, "the %s is the picture Xvfb "
                                  "shows (%.2f %% of its pixels differ)" % (what, 100 * share)))
            else:
                sharp = sharpness.luminance(width, height, rows)
                enlarged = sharpness.double(sharpness.luminance(*MAIN_SIZE, reference))
                for what, (x, y, cx, cy) in PICTURE_BOXES.items():
                    box = (2 * (x + 1), 2 * (y + 1), 2 * cx, 2 * cy)
                    a = sharpness.edge_sharpness(sharp, box)
                    b = sharpness.edge_sharpness(enlarged, box)
                    found.append((a >= SHARPER_BY * b and
                                  sharpness.finer_than_half(sharp, box) >= FINER_AT_LEAST,
                                  "the %s is drawn for scale 2: %.1f times as sharp as the "
                                  "Xvfb window enlarged, with detail finer than its pixels"
                                  % (what, a / b)))
            return found

        # A loaded machine may show the output's frames before the window's first paint.
        deadline = time.monotonic() + WAIT
        while True:
            _, width, height, rows = w.capture(main, "idle")
            found = pictures(width, height, rows)
            if all(holds for holds, _ in found) or time.monotonic() > deadline:
                break
        check((width, height) == (scale * MAIN_SIZE[0], scale * MAIN_SIZE[1]),
              "at scale %d the screenshot has %dx%d pixels" % (scale, width, height))
        for holds, text in found:
            check(holds, text)

        w.keys("Return")  # Start has the keys from the first
        finish = w.view_of_size(APP_ID, FINISH_SIZE)
        w.capture(finish, "finish")
        check(True, "Return scans; the finish window opens")
        w.keys("Escape")
        wait_for(lambda: [v["id"] for v in w.views(APP_ID)] == [main["id"]],
                 "the finish window to close")
        w.keys("Tab", "Tab", "space")  # Start, Close, Documents' details
        details = wait_for(lambda: [v for v in w.views(APP_ID) if v["id"] != main["id"]],
                           "the details window")[0]
        w.capture(details, "details")
        check(True, "Tab onto Documents' details and Space open the details window")
        w.keys("Escape")
        wait_for(lambda: [v["id"] for v in w.views(APP_ID)] == [main["id"]],
                 "the details window to close")

        # From a terminal: no token. The first window is on a workspace out of sight.
        # sway 1.7 answers every activation as focus_on_window_activation says (urgent
        # unless configured), later versions a token of no user action with urgency.
        w.msg("workspace", "2")
        code, err = w.run()
        check(code == 0, "a second start ends with 0 (%d) %s" % (code, err))
        wait_for(lambda: w.view(main["id"], APP_ID)["urgent"], "the first window to be urgent")
        check(first.poll() is None, "without a token the first window asks for attention: "
              "sway marks it urgent")

        # From a launcher: a token, which sway here honours with the focus.
        w.msg("workspace", "1")
        w.msg("focus_on_window_activation", "focus")
        w.msg("workspace", "2")
        token = w.tool(WAYLAND_TOKEN).strip()
        code, err = w.run(XDG_ACTIVATION_TOKEN=token)
        check(code == 0, "a second start with a token ends with 0 (%d) %s" % (code, err))
        wait_for(lambda: w.view(main["id"], APP_ID)["focused"], "the first window to be focused")
        check(first.poll() is None, "with a token the first window is activated")

        w.keys("Escape")
        check(s.wait_exit(first, "Escape") == 0, "Escape ends the program with 0")


def wayland(s):
    on_wayland(s, 1)


def wayland_scale2(s):
    on_wayland(s, 2)


SCENARIOS = {f.__name__: f for f in (single_instance, debug_log, platform_warning, whole_scan,
                                     quick_click, no_display, high_density, screen_reader,
                                     user_locale, keyboard_focus, disk_service,
                                     disk_service_system, wayland, wayland_scale2)}

SKIPPED = 77  # what ctest is told counts as skipped


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tarrow", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--app-id", required=True)
    parser.add_argument("--udisks-stand-in")
    parser.add_argument("--wayland-token")
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    global APP_ID, UDISKS_STAND_IN, WAYLAND_TOKEN
    APP_ID = args.app_id
    UDISKS_STAND_IN = args.udisks_stand_in
    WAYLAND_TOKEN = args.wayland_token
    scenario = SCENARIOS[args.scenario]
    result = 0
    with Session(args.tarrow, args.out, args.scenario,
                 screen=getattr(scenario, "screen", "1280x800"),
                 window_manager=getattr(scenario, "window_manager", True)) as s:
        try:
            scenario(s)
        except Skip as e:
            print("SKIP -", e, flush=True)
            result = SKIPPED
        except Failure as e:
            print("FAILED -", e, flush=True)
            try:
                s.screenshot("root", "failure")
            except Exception:
                pass
            result = 1
    # Whatever the session started has ended with it, bus daemons too.
    if s.leftovers():
        print("FAILED - still running after the session ended: " + "; ".join(s.leftovers()),
              flush=True)
        return 1
    print("ok - nothing the session started is left running", flush=True)
    return result


if __name__ == "__main__":
    sys.exit(main())
