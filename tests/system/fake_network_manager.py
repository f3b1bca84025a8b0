#!/usr/bin/python3
# A stand-in for NetworkManager on a bus of the test's own: the properties the
# firewall reads (PrimaryConnection, the active connection's Id, Type and
# SpecificObject, the access point's Ssid), changed by lines on standard input:
#   wifi HEX    the primary connection is Wi-Fi with the SSID's bytes in hex
#   wired NAME  the primary connection is a wired one named NAME
#   none        no primary connection
# Each change is told with PropertiesChanged, as NetworkManager does; "ready"
# is printed once the name is owned. Ends when standard input closes.
#   fake_network_manager.py BUS_ADDRESS
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NM = "org.freedesktop.NetworkManager"
PROPERTIES = "org.freedesktop.DBus.Properties"
ROOT = "/org/freedesktop/NetworkManager"
ACTIVE = ROOT + "/ActiveConnection/1"
POINT = ROOT + "/AccessPoint/1"

state = {"primary": "/", "type": "", "id": "", "ssid": b""}


class Object(dbus.service.Object):
    def __init__(self, bus, path, interface, values):
        super().__init__(bus, path)
        self.interface = interface
        self.values = values

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface != self.interface or name not in self.values:
            raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.InvalidArgs")
        return self.values[name]()

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(sys.argv[1])
    name = dbus.service.BusName(NM, bus)  # owned while the process lives
    root = Object(bus, ROOT, NM, {"PrimaryConnection": lambda: dbus.ObjectPath(state["primary"])})
    Object(bus, ACTIVE, NM + ".Connection.Active", {
        "Id": lambda: dbus.String(state["id"]),
        "Type": lambda: dbus.String(state["type"]),
        "SpecificObject": lambda: dbus.ObjectPath(POINT if state["type"] == "802-11-wireless" else "/"),
    })
    Object(bus, POINT, NM + ".AccessPoint", {"Ssid": lambda: dbus.ByteArray(state["ssid"])})
    loop = GLib.MainLoop()

    def on_line(channel, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        words = line.rstrip("\n").split(" ", 1)
        if words[0] == "wifi":
            state.update(primary=ACTIVE, type="802-11-wireless", id="Some Wi-Fi", ssid=bytes.fromhex(words[1]))
        elif words[0] == "wired":
            state.update(primary=ACTIVE, type="802-3-ethernet", id=words[1], ssid=b"")
        else:
            state.update(primary="/", type="", id="", ssid=b"")
        root.PropertiesChanged(NM, {"PrimaryConnection": dbus.ObjectPath(state["primary"])}, [])
        print("changed", flush=True)
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_line)
    print("ready", flush=True)
    loop.run()
    # The bus may be gone by now: nothing left to release on it.
    os._exit(0)


if __name__ == "__main__":
    main()
