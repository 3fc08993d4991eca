#!/usr/bin/env python3
"""A desktop panel's side of status items, for the tests: a StatusNotifierItem watcher and host,
and a reader of an item's properties and menu as a panel reads them.

  status_notifier_host.py watch              owns org.kde.StatusNotifierWatcher until ended,
                                             printing each item that registers
  status_notifier_host.py items              the watcher's RegisteredStatusNotifierItems (JSON)
  status_notifier_host.py item SERVICE       the item's properties (JSON)
  status_notifier_host.py call SERVICE METHOD  calls Activate, SecondaryActivate or ContextMenu
  status_notifier_host.py layout SERVICE     the item's menu, opened as a panel opens it (JSON)
  status_notifier_host.py click SERVICE ID   opens the menu, clicks the item numbered ID and
                                             waits until the menu shows it switched and enabled
                                             again; prints the signals seen and the last
                                             layout (JSON)
"""

import json
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"


def plain(value):
    """D-Bus values as JSON values."""
    if isinstance(value, (dbus.Array, list)):
        return [plain(v) for v in value]
    if isinstance(value, (dbus.Struct, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Dictionary):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.String, dbus.ObjectPath)):
        return str(value)
    if isinstance(value, dbus.ByteArray) or isinstance(value, bytes):
        return len(value)
    if isinstance(value, (int, float)):
        return int(value) if not isinstance(value, float) else float(value)
    return str(value)


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        self.items = []
        self.name = dbus.service.BusName(WATCHER, bus, do_not_queue=True)
        super().__init__(self.name, "/StatusNotifierWatcher")
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        if service.startswith("/"):
            service = sender + service
        if service not in self.items:
            self.items.append(service)
            self.StatusNotifierItemRegistered(service)
        print("registered", service, flush=True)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        self.StatusNotifierHostRegistered()

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": True,
            "ProtocolVersion": dbus.Int32(0),
        }

    def owner_changed(self, name, old, new):
        if new:
            return
        for service in [s for s in self.items if s == name or s.startswith(name + "/")]:
            self.items.remove(service)
            self.StatusNotifierItemUnregistered(service)


def item_object(bus, service):
    name, _, path = service.partition("/")
    return bus.get_object(name, "/" + path if path else "/StatusNotifierItem"), name


def menu_object(bus, service):
    item, name = item_object(bus, service)
    path = item.Get(ITEM, "Menu", dbus_interface=dbus.PROPERTIES_IFACE)
    return dbus.Interface(bus.get_object(name, path), MENU)


def layout_of(menu):
    revision, layout = menu.GetLayout(0, -1, dbus.Array([], signature="s"))

    def tree(node):
        number, properties, children = node
        return {"id": int(number), "properties": plain(properties),
                "children": [tree(child) for child in children]}

    return int(revision), tree(layout)


def find(node, number):
    if node["id"] == number:
        return node
    for child in node["children"]:
        found = find(child, number)
        if found:
            return found
    return None


def open_menu(menu):
    menu.AboutToShow(0)
    menu.Event(0, "opened", dbus.Int32(0, variant_level=1), dbus.UInt32(int(time.time())))


def main(arguments):
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    command = arguments[0]
    if command == "watch":
        watcher = Watcher(bus)
        print("watching", flush=True)
        GLib.MainLoop().run()
        del watcher
    elif command == "items":
        watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
        print(json.dumps(plain(watcher.Get(WATCHER, "RegisteredStatusNotifierItems",
                                           dbus_interface=dbus.PROPERTIES_IFACE))))
    elif command == "item":
        item, _ = item_object(bus, arguments[1])
        print(json.dumps(plain(item.GetAll(ITEM, dbus_interface=dbus.PROPERTIES_IFACE))))
    elif command == "call":
        item, _ = item_object(bus, arguments[1])
        getattr(item, arguments[2])(dbus.Int32(10), dbus.Int32(10), dbus_interface=ITEM)
    elif command == "layout":
        menu = menu_object(bus, arguments[1])
        open_menu(menu)
        revision, layout = layout_of(menu)
        print(json.dumps({"revision": revision, "layout": layout}, ensure_ascii=False))
    elif command == "click":
        menu = menu_object(bus, arguments[1])
        number = int(arguments[2])
        open_menu(menu)
        _, before = layout_of(menu)
        wanted = 1 - find(before, number)["properties"].get("toggle-state", 0)
        seen = []
        menu.connect_to_signal("LayoutUpdated", lambda *a: seen.append("LayoutUpdated"))
        menu.connect_to_signal("ItemsPropertiesUpdated",
                               lambda *a: seen.append("ItemsPropertiesUpdated"))
        menu.Event(number, "clicked", dbus.Int32(0, variant_level=1),
                   dbus.UInt32(int(time.time())))
        loop = GLib.MainLoop()
        deadline = time.monotonic() + 30
        result = {}

        def check():
            _, layout = layout_of(menu)
            result["layout"] = layout
            item = find(layout, number)
            done = item and item["properties"].get("toggle-state") == wanted and \
                item["properties"].get("enabled", True)
            if done or time.monotonic() > deadline:
                loop.quit()
                return False
            return True

        GLib.timeout_add(200, check)
        loop.run()
        result["signals"] = seen
        print(json.dumps(result, ensure_ascii=False))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
