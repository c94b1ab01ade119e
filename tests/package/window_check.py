"""The installed window opens: the program started from its installed path on a private
Xvfb display shows the main window, with the application id as its class, and ends
when the window is closed.

    window_check.py --tarrow /usr/bin/tarrow --app-id APPLICATION-ID --out FOLDER
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import Failure, Session, check  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tarrow", required=True)
    parser.add_argument("--app-id", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    with Session(args.tarrow, args.out, "installed") as s:
        try:
            p = s.start()
            window = s.wait_window(p)
            s.screenshot(window, "main")
            check(s.window_class(window) == ("tarrow", args.app_id),
                  "the installed window's class is %s (%s)" % (args.app_id, s.window_class(window)))
            s.keys(window, "Escape")
            check(s.wait_exit(p, "Escape") == 0, "Escape closes it and the program ends with 0")
        except Failure as e:
            print("FAILED -", e, flush=True)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
