"""A screen reader's side of the end-to-end tests: reads one program's windows over AT-SPI
with pyatspi, as a screen reader does, and presses its controls through their actions.

    atspi_reader.py PID dump                 every window of the program, as JSON
    atspi_reader.py PID press NAME ROLE [IN] presses the one control of that name and role
                                             (in the window that has something named IN)
                                             and prints how many seconds the call took
    atspi_reader.py PID listen               the value changes announced until a line
                                             comes on standard input, as JSON

It runs under the interpreter python3-pyatspi belongs to, in the environment of the
session (DBUS_SESSION_BUS_ADDRESS names the session bus that leads to the AT-SPI bus).
Exit status 3: the program is not (yet) on the AT-SPI bus.
"""

import json
import select
import sys
import time

import pyatspi
from gi.repository import GLib


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def describe(acc):
    interfaces = acc.get_interfaces()
    node = {
        "name": acc.name,
        "role": acc.getRoleName(),
        "description": acc.description,
        "states": sorted(s.value_nick for s in acc.getState().getStates()),
        "actions": [],
        "children": [],
    }
    if "Text" in interfaces:
        node["text"] = acc.queryText().getText(0, -1)
    if "Action" in interfaces:
        action = acc.queryAction()
        node["actions"] = [action.getName(i) for i in range(action.nActions)]
    if "Table" in interfaces:
        table = acc.queryTable()
        node["columns"] = [table.getColumnDescription(c) for c in range(table.nColumns)]
        node["rows"] = table.nRows
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            node["children"].append(describe(child))
    return node


def press(app, name, role, within=None):
    found = []
    for i in range(app.childCount):
        window = app.getChildAtIndex(i)
        if window is None:
            continue
        if within is not None and pyatspi.findDescendant(window, lambda a: a.name == within) is None:
            continue
        found += pyatspi.findAllDescendants(
            window, lambda a: a.name == name and a.getRoleName() == role)
    if len(found) != 1:
        print("%d controls named %r with role %r" % (len(found), name, role), file=sys.stderr)
        return 1
    action = found[0].queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Press" not in names:
        print("%r has no Press action: %s" % (name, names), file=sys.stderr)
        return 1
    # A screen reader waits for the call; the click is to follow it, not to run inside it.
    started = time.monotonic()
    done = action.doAction(names.index("Press"))
    print("%.3f" % (time.monotonic() - started))
    return 0 if done else 1


def listen(pid):
    """Value changes of the program's controls, as (name, text) in the order announced,
    until standard input has a line or ends."""
    heard = []

    def on_event(event):
        source = event.source
        if source is None or source.get_process_id() != pid:
            return
        text = ""
        if "Text" in source.get_interfaces():
            text = source.queryText().getText(0, -1)
        heard.append([source.name, text])

    pyatspi.Registry.registerEventListener(on_event, "object:property-change:accessible-value")
    print("listening", file=sys.stderr, flush=True)
    context = GLib.MainContext.default()
    while not select.select([sys.stdin], [], [], 0.01)[0]:
        while context.iteration(False):
            pass
    while context.iteration(False):
        pass
    pyatspi.Registry.deregisterEventListener(on_event, "object:property-change:accessible-value")
    return heard


def main():
    pid, command = int(sys.argv[1]), sys.argv[2]
    if command == "listen":
        print(json.dumps(listen(pid)))
        return 0
    app = application(pid)
    if app is None:
        return 3
    if command == "dump":
        print(json.dumps(describe(app)))
        return 0
    if command == "press":
        return press(app, *sys.argv[3:6])
    print("unknown command " + command, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
