#!/usr/bin/python3
# A minimal xdg-desktop-portal Settings service for tests, on the private session
# bus: answers Read for org.freedesktop.appearance color-scheme and emits
# SettingChanged when a line with a new value (0, 1 or 2) arrives on stdin.
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SETTINGS = "org.freedesktop.portal.Settings"


class Portal(dbus.service.Object):
    def __init__(self, bus, scheme):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.scheme = scheme

    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def Read(self, namespace, key):
        if namespace == "org.freedesktop.appearance" and key == "color-scheme":
            # Read wraps the value in a second variant.
            return dbus.types.UInt32(self.scheme, variant_level=1)
        raise dbus.exceptions.DBusException("org.freedesktop.portal.Error.NotFound")

    @dbus.service.signal(SETTINGS, signature="ssv")
    def SettingChanged(self, namespace, key, value):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus, int(sys.argv[1]) if len(sys.argv) > 1 else 0)
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)  # noqa: F841 (kept alive)
    print("ready", flush=True)

    def on_input(source, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        portal.scheme = int(line.strip())
        portal.SettingChanged("org.freedesktop.appearance", "color-scheme", dbus.types.UInt32(portal.scheme))
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
    loop = GLib.MainLoop()
    loop.run()


main()
