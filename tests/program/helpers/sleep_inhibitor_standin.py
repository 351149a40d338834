#!/usr/bin/python3
"""A stand-in for the desktop's sleep inhibitors, for the tests, on a private D-Bus.

Usage: sleep_inhibitor_standin.py portal|logind LOG [SECONDS]

On the bus that DBUS_SESSION_BUS_ADDRESS names, owns either the XDG desktop portal's name with its
Inhibit interface (each inhibitor a request object, released by its Close) or logind's name with
Manager.Inhibit (each inhibitor one end of a pipe, released when the caller closes it). Appends a
line to LOG for every inhibitor taken ("take portal flags=4", "take logind sleep block") and
released ("release portal", "release logind"), before it answers, and prints "ready" once it
owns the name. With SECONDS, the portal answers each Inhibit only that long after it came ("ask
portal" when it comes), as a portal does that is being started or hangs, and serves other calls
meanwhile.
"""
import os
import sys

try:
    import gi
    gi.require_version("Gio", "2.0")
    from gi.repository import Gio, GLib
except (ImportError, ValueError) as e:
    sys.exit(f"sleep_inhibitor_standin.py: {e}: needs Debian's python3-gi")

PORTAL = """<node>
  <interface name="org.freedesktop.portal.Inhibit">
    <method name="Inhibit">
      <arg type="s" name="window" direction="in"/>
      <arg type="u" name="flags" direction="in"/>
      <arg type="a{sv}" name="options" direction="in"/>
      <arg type="o" name="handle" direction="out"/>
    </method>
  </interface>
  <interface name="org.freedesktop.portal.Request">
    <method name="Close"/>
  </interface>
</node>"""

LOGIND = """<node>
  <interface name="org.freedesktop.login1.Manager">
    <method name="Inhibit">
      <arg type="s" name="what" direction="in"/>
      <arg type="s" name="who" direction="in"/>
      <arg type="s" name="why" direction="in"/>
      <arg type="s" name="mode" direction="in"/>
      <arg type="h" name="pipe_fd" direction="out"/>
    </method>
  </interface>
</node>"""


def main():
    if len(sys.argv) not in (3, 4) or sys.argv[1] not in ("portal", "logind"):
        sys.exit(__doc__)
    kind, log_path = sys.argv[1], sys.argv[2]
    delay_ms = int(float(sys.argv[3]) * 1000) if len(sys.argv) == 4 else 0
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    loop = GLib.MainLoop()
    requests = {}  # portal request paths still open, with their registration ids

    def note(line):
        with open(log_path, "a") as log:
            log.write(line + "\n")

    def on_request(conn, sender, path, interface, method, params, invocation):
        if path in requests:
            conn.unregister_object(requests.pop(path))
            note("release portal")
        invocation.return_value(None)

    def on_portal(conn, sender, path, interface, method, params, invocation):
        window, flags, options = params.unpack()

        def answer():
            request = f"/org/freedesktop/portal/desktop/request/{len(requests) + 1}_{id(invocation)}"
            requests[request] = conn.register_object(request, portal.interfaces[1], on_request,
                                                     None, None)
            note(f"take portal flags={flags}")
            invocation.return_value(GLib.Variant("(o)", (request,)))
            return False

        if delay_ms:
            note("ask portal")
            GLib.timeout_add(delay_ms, answer)
        else:
            answer()

    def on_logind(conn, sender, path, interface, method, params, invocation):
        what, who, why, mode = params.unpack()
        held, given = os.pipe()

        def on_closed(fd, condition):
            os.close(fd)
            note("release logind")
            return False

        GLib.unix_fd_add_full(GLib.PRIORITY_DEFAULT, held, GLib.IOCondition.HUP, on_closed)
        note(f"take logind {what} {mode}")
        # The list owns `given` and closes it once the answer is sent: the caller's copy is
        # then the only one.
        invocation.return_value_with_unix_fd_list(GLib.Variant("(h)", (0,)),
                                                  Gio.UnixFDList.new_from_array([given]))

    if kind == "portal":
        portal = Gio.DBusNodeInfo.new_for_xml(PORTAL)
        bus.register_object("/org/freedesktop/portal/desktop", portal.interfaces[0], on_portal,
                            None, None)
        name = "org.freedesktop.portal.Desktop"
    else:
        logind = Gio.DBusNodeInfo.new_for_xml(LOGIND)
        bus.register_object("/org/freedesktop/login1", logind.interfaces[0], on_logind, None,
                            None)
        name = "org.freedesktop.login1"

    def on_acquired(conn, owned):
        print("ready", flush=True)

    Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE, on_acquired,
                                   lambda conn, lost: loop.quit())
    loop.run()


if __name__ == "__main__":
    main()
