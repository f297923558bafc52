#!/usr/bin/python3
# A StatusNotifierItem host on the session bus, as a desktop's tray provides it.
#   sni-watcher.py watch          owns org.kde.StatusNotifierWatcher until killed
#   sni-watcher.py item PROPERTY  prints a property of the first registered item
#   sni-watcher.py menu           prints that item's menu: "depth|label|state" lines
#   sni-watcher.py click LABEL    sends "clicked" to the menu entry with that label
# Qt only uses a watcher whose D-Bus introspection lists its properties, which
# dbus-python does not generate, hence the hand-written description.
import sys

import dbus
import dbus.service

WATCHER = "org.kde.StatusNotifierWatcher"
PROPERTIES = "org.freedesktop.DBus.Properties"

INTROSPECTION = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # Items may register a bus name or only their object path.
        item = sender + service if service.startswith("/") else service
        if item not in self.items:
            self.items.append(item)
            self.StatusNotifierItemRegistered(item)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": True,
            "ProtocolVersion": dbus.Int32(0),
        }


def first_item(bus):
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
    items = watcher.Get(WATCHER, "RegisteredStatusNotifierItems", dbus_interface=PROPERTIES)
    if not items:
        sys.exit("no item registered")
    service, _, path = items[0].partition("/")
    return bus.get_object(service, "/" + path if path else "/StatusNotifierItem")


def menu_layout(bus):
    item = first_item(bus)
    path = item.Get("org.kde.StatusNotifierItem", "Menu", dbus_interface=PROPERTIES)
    menu = dbus.Interface(bus.get_object(item.bus_name, path), "com.canonical.dbusmenu")
    # A host announces the menu's opening; the program rebuilds its entries then.
    menu.AboutToShow(0)
    return menu, menu.GetLayout(0, -1, [])[1]


def entries(node, depth=0):
    for child in node[2]:
        entry_id, properties = child[0], child[1]
        yield depth, entry_id, properties
        yield from entries(child, depth + 1)


def main():
    command = sys.argv[1]
    if command == "watch":
        from dbus.mainloop.glib import DBusGMainLoop
        from gi.repository import GLib

        DBusGMainLoop(set_as_default=True)
        bus = dbus.SessionBus()
        name = dbus.service.BusName(WATCHER, bus)
        Watcher(bus)
        print("watching", name.get_name(), flush=True)
        GLib.MainLoop().run()
    bus = dbus.SessionBus()
    if command == "item":
        print(first_item(bus).Get("org.kde.StatusNotifierItem", sys.argv[2], dbus_interface=PROPERTIES))
    elif command == "menu":
        for depth, _, properties in entries(menu_layout(bus)[1]):
            if properties.get("type") != "separator":
                print("%d|%s|%d" % (depth, properties.get("label", ""), properties.get("toggle-state", -1)))
    elif command == "click":
        menu, layout = menu_layout(bus)
        for _, entry_id, properties in entries(layout):
            if properties.get("label") == sys.argv[2]:
                menu.Event(entry_id, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0))
                return
        sys.exit("no entry " + sys.argv[2])


main()
