#!/usr/bin/python3
"""The desktop entry's action that opens the data folder, launched as a desktop launches it.

Usage: desktop_action_check.py path/to/measure.desktop

GLib reads the entry and starts the action, with a stand-in xdg-open on PATH that notes the
folder it is given. For the default drive (under $HOME) and for a drive named by MEASURE_DRIVE_C
whose path holds a space and a dollar sign, the action must make the data folder and open it.
Exit status 0 when both do, 1 otherwise.
"""
import os
import sys
import tempfile
import time

try:
    from gi.repository import Gio
except ImportError as e:
    sys.exit(f"FAIL: {e}: the check needs Debian's python3-gi")

ACTION = "open-data-folder"
WAIT = 10.0  # seconds for the action to reach xdg-open


def launch(entry, root, env):
    """Starts the action under `env`; returns what xdg-open was given, or None."""
    bin_dir = os.path.join(root, "bin")
    os.makedirs(bin_dir, exist_ok=True)
    opened = os.path.join(root, "opened")
    # GLib takes an entry only when its program is on PATH.
    stubs = {"measure": "#!/bin/sh\n",
             "xdg-open": f"#!/bin/sh\nprintf '%s' \"$*\" > '{opened}.part' && "
                         f"mv '{opened}.part' '{opened}'\n"}
    for name, text in stubs.items():
        path = os.path.join(bin_dir, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)
    saved = dict(os.environ)
    os.environ.clear()
    os.environ.update(env, PATH=bin_dir + os.pathsep + saved.get("PATH", "/usr/bin:/bin"))
    try:
        info = Gio.DesktopAppInfo.new_from_filename(entry)
        if ACTION not in info.list_actions():
            raise AssertionError(f"the entry has no action {ACTION}: {info.list_actions()}")
        info.launch_action(ACTION, None)
    finally:
        os.environ.clear()
        os.environ.update(saved)
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        if os.path.exists(opened):
            with open(opened) as f:
                return f.read()
        time.sleep(0.05)
    return None


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    entry = os.path.abspath(sys.argv[1])
    errors = []
    with tempfile.TemporaryDirectory() as root:
        home = os.path.join(root, "home")
        os.makedirs(home)
        drive = os.path.join(root, "my drive $HOME")
        cases = [
            ("default drive", {"HOME": home},
             os.path.join(home, ".local/share/measure/drive_c/data")),
            ("MEASURE_DRIVE_C", {"HOME": home, "MEASURE_DRIVE_C": drive},
             os.path.join(drive, "data")),
        ]
        for n, (what, env, folder) in enumerate(cases):
            try:
                got = launch(entry, os.path.join(root, f"case{n}"), env)
            except AssertionError as e:
                errors.append(f"{what}: {e}")
                continue
            if got != folder:
                errors.append(f"{what}: want xdg-open {folder!r}, got {got!r}")
            if not os.path.isdir(folder):
                errors.append(f"{what}: {folder} was not made")
    for e in errors:
        print("FAIL:", e)
    if not errors:
        print(f"ok: the action {ACTION} makes and opens the data folder")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
