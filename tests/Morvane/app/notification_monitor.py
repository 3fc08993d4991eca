#!/usr/bin/env python3
"""Watches the session bus's desktop notifications, for the tests and benchmarks: prints each
Notify call, ActionInvoked and NotificationClosed signal as one JSON line, with the wall-clock
time it came, until ended.

  notification_monitor.py [--serve] [FILE]
      one line per message, to FILE or standard output:
      {"time": 1765290000.123, "member": "Notify", "args": [...]}
      after a first line {"member": "ready"} once it watches. With --serve, it is also the
      notification service itself, one that shows nothing, where no other runs.
"""

import json
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

INTERFACE = "org.freedesktop.Notifications"
MEMBERS = ("Notify", "ActionInvoked", "NotificationClosed")


def plain(value):
    """D-Bus values as JSON values."""
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Dictionary):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (int, float)):
        return value
    return str(value)


SERVE = "--serve" in sys.argv[1:2]
NAMED = sys.argv[1 + SERVE:]
OUT = open(NAMED[0], "w", encoding="utf-8") if NAMED else sys.stdout


def say(line):
    print(json.dumps(line, ensure_ascii=False), file=OUT, flush=True)


def seen(_bus, message):
    if message.get_interface() == INTERFACE and message.get_member() in MEMBERS:
        say({"time": time.time(), "member": message.get_member(),
             "args": [plain(a) for a in message.get_args_list()]})


class Service(dbus.service.Object):
    """Takes every notice and shows none."""

    def __init__(self, bus):
        self.last = 0
        self.name = dbus.service.BusName(INTERFACE, bus, do_not_queue=True)
        super().__init__(self.name, "/org/freedesktop/Notifications")

    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, _app, replaces, _icon, _summary, _body, _actions, _hints, _timeout):
        self.last += 1
        return replaces or self.last

    @dbus.service.method(INTERFACE, in_signature="u")
    def CloseNotification(self, _id):
        pass

    @dbus.service.method(INTERFACE, out_signature="as")
    def GetCapabilities(self):
        return ["body", "actions"]

    @dbus.service.method(INTERFACE, out_signature="ssss")
    def GetServerInformation(self):
        return ["notification_monitor", "tests", "1", "1.2"]


def main():
    DBusGMainLoop(set_as_default=True)
    if SERVE:
        served = Service(dbus.SessionBus(private=True))
    bus = dbus.SessionBus()
    rules = ["type='method_call',interface='%s'" % INTERFACE,
             "type='signal',interface='%s'" % INTERFACE]
    bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").BecomeMonitor(
        rules, dbus.UInt32(0), dbus_interface="org.freedesktop.DBus.Monitoring")
    bus.add_message_filter(seen)
    say({"member": "ready"})
    GLib.MainLoop().run()


if __name__ == "__main__":
    sys.exit(main())
