"""End-to-end scenarios of the windowed program, each on a display of its own.

    program_test.py --tarrow BUILD/app/tarrow --out BUILD/tests/e2e/screenshots \
                    --app-id APPLICATION-ID SCENARIO

Screenshots of the windows land in the --out folder as SCENARIO-WHAT.png.
"""

import argparse
import decimal
import os
import shutil
import sys
import time

from harness import Failure, Session, check, read_log, tagged, wait_for

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


SCENARIOS = {f.__name__: f for f in (single_instance, debug_log, platform_warning, whole_scan)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tarrow", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--app-id", required=True)
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    global APP_ID
    APP_ID = args.app_id
    with Session(args.tarrow, args.out, args.scenario) as s:
        try:
            SCENARIOS[args.scenario](s)
        except Failure as e:
            print("FAILED -", e, flush=True)
            try:
                s.screenshot("root", "failure")
            except Exception:
                pass
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
