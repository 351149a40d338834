#!/usr/bin/python3
"""What a screen reader hears of the measurement dialog, read through AT-SPI as Orca reads it.

Usage: accessibility_check.py path/to/measure

Run it on a display and a D-Bus session of its own, e.g.
    xvfb-run -a dbus-run-session -- tests/linux/accessibility_check.py build/linux/measure
It starts the accessibility bus and its registry, turns accessibility on as a desktop does for a
screen reader, starts the program and compares the dialog's roles, names, states and label
relations with what Win32 gives the same dialog. Every wait is bounded; a failure says what
differed. Exit status 0 when all matches, 1 otherwise.
"""
import os
import subprocess
import sys
import tempfile
import time

try:
    import pyatspi
    from gi.repository import Gio, GLib
except ImportError as e:
    sys.exit(f"FAIL: {e}: the check needs Debian's python3-pyatspi (and at-spi2-core)")

# The dialog's controls in window order: role, name, and for fields whether they are read-only.
# Each field is named after the label just before it, and that label labels it.
EXPECTED = [
    ("push button", "表示", None),
    ("push button", "記録", None),
    ("label", "時間間隔", None),
    ("text", "時間間隔", False),
    ("label", "ms", None),
    ("label", "回数", None),
    ("text", "回数", True),
    ("label", "経過時間", None),
    ("text", "経過時間", True),
    ("label", "s", None),
    ("label", ".***", None),
    ("label", "ファイル名", None),
    ("text", "ファイル名", False),
    ("label", "メモ", None),
    ("text", "メモ", False),
    ("label", "プログラムからの情報", None),
    ("text", "プログラムからの情報", False),
]
CAPTION = "測定用ダイアログ"
WAIT = 20.0  # seconds, for each thing the check waits for


def wait_for(what, fn):
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        value = fn()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"gave up after {WAIT:.0f} s waiting for {what}")


def enable_accessibility():
    """What a desktop does when a screen reader is on: the bus's IsEnabled is set."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                  GLib.Variant("(ssv)", ("org.a11y.Status", "IsEnabled", GLib.Variant("b", True))),
                  None, Gio.DBusCallFlags.NONE, 5000, None)


def find_dialog():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None or app.name != "measure":
            continue
        for j in range(app.childCount):
            top = app.getChildAtIndex(j)
            if top is not None and top.childCount >= len(EXPECTED):
                return top
    return None


def labelled_by(acc):
    for rel in acc.getRelationSet():
        if rel.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return [rel.getTarget(i).name for i in range(rel.getNTargets())]
    return []


def describe(acc):
    states = acc.getState()
    return {
        "role": acc.getRoleName(),
        "name": acc.name,
        "read_only": states.contains(pyatspi.STATE_READ_ONLY),
        "labelled_by": labelled_by(acc),
    }


def check_tree(dialog, errors):
    if dialog.getRoleName() != "dialog" or dialog.name != CAPTION:
        errors.append(f"window: want dialog '{CAPTION}', got {dialog.getRoleName()} "
                      f"'{dialog.name}'")
    kids = [dialog.getChildAtIndex(i) for i in range(dialog.childCount)]
    got = [describe(k) for k in kids if k.getRoleName() in ("push button", "label", "text")]
    if len(got) != len(EXPECTED):
        errors.append(f"want {len(EXPECTED)} buttons, labels and fields, got {len(got)}: "
                      + ", ".join(f"{g['role']} '{g['name']}'" for g in got))
    for n, ((role, name, read_only), g) in enumerate(zip(EXPECTED, got), 1):
        if (g["role"], g["name"]) != (role, name):
            errors.append(f"control {n}: want {role} '{name}', got {g['role']} '{g['name']}'")
        elif role == "text":
            if g["read_only"] != read_only:
                errors.append(f"field '{name}': want read-only {read_only}, got {g['read_only']}")
            if g["labelled_by"] != [name]:
                errors.append(f"field '{name}': want labelled by '{name}', got "
                              f"{g['labelled_by']}")
    return kids


def child_named(kids, role, name):
    return next(k for k in kids if k.getRoleName() == role and k.name == name)


def check_press(kids):
    """A screen reader's Press action on 表示 starts a display acquisition, and stops it."""
    button = child_named(kids, "push button", "表示")
    count = child_named(kids, "text", "回数").queryText()
    action = button.queryAction()
    press = next((i for i in range(action.nActions) if action.getName(i) == "Press"), None)
    if press is None:
        raise AssertionError("表示 offers no Press action")
    action.doAction(press)
    wait_for("the count field to show a sample after pressing 表示",
             lambda: count.getText(0, -1) not in ("", "0"))
    action.doAction(press)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    pyatspi.Registry.getDesktop(0)  # starts the accessibility bus and its registry
    enable_accessibility()
    env = dict(os.environ, QT_QPA_PLATFORM="xcb")
    env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)
    with tempfile.TemporaryDirectory() as drive:
        env["MEASURE_DRIVE_C"] = drive
        program = subprocess.Popen([sys.argv[1]], env=env)
        errors = []
        try:
            dialog = wait_for("the program's dialog on the accessibility bus", find_dialog)
            kids = check_tree(dialog, errors)
            if not errors:
                check_press(kids)
        except AssertionError as e:
            errors.append(str(e))
        finally:
            program.terminate()
            try:
                program.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                program.kill()
                errors.append("the program did not end on SIGTERM")
    for e in errors:
        print("FAIL:", e)
    if not errors:
        print(f"ok: the dialog and its {len(EXPECTED)} controls read as on Windows")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
