#!/usr/bin/python3
# A native Wayland window that fills the screen's work area and reports every
# pointer press as "click X Y" (window coordinates) on standard output. Run as
# the compositor's session command, it first reports the X display and
# authority the compositor gives its clients: "x11 DISPLAY XAUTHORITY".
import os
import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import Gtk  # noqa: E402


def say(*words):
    print(*words, flush=True)


def activate(app):
    window = Gtk.ApplicationWindow(application=app, decorated=False, title="native")
    area = Gtk.DrawingArea()
    window.set_child(area)
    press = Gtk.GestureClick(button=0)
    press.connect("pressed", lambda _gesture, _n, x, y: say("click %d %d" % (x, y)))
    area.add_controller(press)
    # Mapped is not enough: a window is only hit once the compositor has placed it.
    area.connect("resize", lambda _area, width, height: say("size %d %d" % (width, height)))
    window.maximize()
    window.present()


say("x11", os.environ.get("DISPLAY", ""), os.environ.get("XAUTHORITY", ""))
application = Gtk.Application()
application.connect("activate", activate)
sys.exit(application.run([]))
