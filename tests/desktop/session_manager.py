"""A session manager on the session bus for the desktop tests, as GTK's application speaks
to one (org.gnome.SessionManager): it registers clients, records inhibitions, and asks the
client whether the session may end when told to on standard input ("query-end").
Prints "ready", then one line per call: "inhibit FLAGS REASON", "uninhibit", "response OK".
Needs Debian's python3-gi (run with /usr/bin/python3)."""

import sys

from gi.repository import Gio, GLib

NAME = "org.gnome.SessionManager"
PATH = "/org/gnome/SessionManager"
CLIENT = PATH + "/Client1"
XML = """
<node>
  <interface name="org.gnome.SessionManager">
    <method name="RegisterClient"><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="o" direction="out"/></method>
    <method name="Inhibit"><arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="u" direction="out"/></method>
    <method name="Uninhibit"><arg type="u" direction="in"/></method>
    <method name="IsInhibited"><arg type="u" direction="in"/><arg type="b" direction="out"/></method>
  </interface>
  <interface name="org.gnome.SessionManager.ClientPrivate">
    <method name="EndSessionResponse"><arg type="b" direction="in"/><arg type="s" direction="in"/></method>
    <signal name="QueryEndSession"><arg type="u"/></signal>
  </interface>
</node>"""

node = Gio.DBusNodeInfo.new_for_xml(XML)
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
inhibited = set()


def say(line):
    print(line, flush=True)


def call(connection, sender, path, interface, method, args, invocation):
    if method == "RegisterClient":
        invocation.return_value(GLib.Variant("(o)", (CLIENT,)))
    elif method == "Inhibit":
        inhibited.add(len(inhibited) + 1)
        say(f"inhibit {args[3]} {args[2]}")
        invocation.return_value(GLib.Variant("(u)", (len(inhibited),)))
    elif method == "Uninhibit":
        inhibited.discard(args[0])
        say("uninhibit")
        invocation.return_value(None)
    elif method == "IsInhibited":
        invocation.return_value(GLib.Variant("(b)", (bool(inhibited),)))
    elif method == "EndSessionResponse":
        say(f"response {args[0]}")
        invocation.return_value(None)


bus.register_object(PATH, node.interfaces[0], call)
bus.register_object(CLIENT, node.interfaces[1], call)


def on_input(channel, condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    if line.strip() == "query-end":
        bus.emit_signal(None, CLIENT, "org.gnome.SessionManager.ClientPrivate", "QueryEndSession",
                        GLib.Variant("(u)", (0,)))
    return True


def on_name(connection, name):
    say("ready")


loop = GLib.MainLoop()
Gio.bus_own_name_on_connection(bus, NAME, Gio.BusNameOwnerFlags.NONE, on_name, None)
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP, on_input)
loop.run()
