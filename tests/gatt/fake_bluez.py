#!/usr/bin/env python3
"""A scripted stand-in of BlueZ for the tests.

It owns org.bluez on the bus given by --address, with one adapter (/org/bluez/hci0) that offers the
adapter properties, the LE advertising manager and the GATT manager. It records what the program
under test sets and registers, and plays a central against the registered GATT application.

The test drives it through standard input, one JSON object per line, and reads one JSON line back
per command:
  {"cmd": "events"}                                 -> {"events": [...]} everything recorded so far
  {"cmd": "write", "uuid": U, "hex": H, "mtu": M, "offset": O, "service": S}
                                                    -> {"ok": true} or {"error": name}
  {"cmd": "read", "uuid": U}                        -> {"ok": true, "hex": H} or {"error": name}
  {"cmd": "start_notify", "uuid": U} / "stop_notify" -> {"ok": true} or {"error": name}
  {"cmd": "connect", "address": A} / "disconnect"   -> {"ok": true}
  {"cmd": "powered", "value": bool}                 -> {"ok": true} (the adapter reports a change)
It exits when standard input closes, and after a fixed time in any case.
"""
import argparse
import json
import os
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

ADAPTER_PATH = "/org/bluez/hci0"
PROPS = "org.freedesktop.DBus.Properties"
OBJECT_MANAGER = "org.freedesktop.DBus.ObjectManager"
ADAPTER = "org.bluez.Adapter1"
DEVICE = "org.bluez.Device1"
ADV_MANAGER = "org.bluez.LEAdvertisingManager1"
ADVERTISEMENT = "org.bluez.LEAdvertisement1"
GATT_MANAGER = "org.bluez.GattManager1"
CHARACTERISTIC = "org.bluez.GattCharacteristic1"
SERVICE = "org.bluez.GattService1"
LIFETIME_S = 120
CALL_TIMEOUT_S = 5

events = []


def plain(value):
    """D-Bus values as JSON: byte arrays become lower-case hex text, dict keys text."""
    if isinstance(value, dbus.Array) and value.signature == "y":
        return bytes(int(b) for b in value).hex()
    if isinstance(value, (dbus.Dictionary, dict)):
        return {str(plain(k)): plain(v) for k, v in value.items()}
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.Byte, dbus.Int16, dbus.UInt16, dbus.Int32, dbus.UInt32, dbus.Int64, dbus.UInt64)):
        return int(value)
    if isinstance(value, dbus.Double):
        return float(value)
    if isinstance(value, (dbus.String, dbus.ObjectPath, str)):
        return str(value)
    return value


def record(kind, **fields):
    fields["event"] = kind
    events.append(fields)


class Root(dbus.service.Object):
    def __init__(self, bus, adapter):
        super().__init__(bus, "/")
        self.adapter = adapter
        self.devices = {}

    @dbus.service.method(OBJECT_MANAGER, out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        objects = {
            ADAPTER_PATH: {
                ADAPTER: self.adapter.props,
                GATT_MANAGER: {},
                ADV_MANAGER: {"SupportedInstances": dbus.Byte(4)},
            }
        }
        for path, device in self.devices.items():
            objects[path] = {DEVICE: device.props}
        return objects

    @dbus.service.signal(OBJECT_MANAGER, signature="oa{sa{sv}}")
    def InterfacesAdded(self, path, interfaces):
        pass

    @dbus.service.signal(OBJECT_MANAGER, signature="oas")
    def InterfacesRemoved(self, path, interfaces):
        pass


class PropertyObject(dbus.service.Object):
    iface = ""

    def __init__(self, bus, path, props):
        super().__init__(bus, path)
        self.props = dbus.Dictionary(props, signature="sv")

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, iface, name):
        return self.props[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, iface):
        return self.props if iface == self.iface else {}

    @dbus.service.method(PROPS, in_signature="ssv")
    def Set(self, iface, name, value):
        record("Set", iface=str(iface), name=str(name), value=plain(value))
        self.change(name, value)

    @dbus.service.signal(PROPS, signature="sa{sv}as")
    def PropertiesChanged(self, iface, changed, invalidated):
        pass

    def change(self, name, value):
        self.props[name] = value
        self.PropertiesChanged(self.iface, dbus.Dictionary({name: value}, signature="sv"), dbus.Array([], signature="s"))


class Device(PropertyObject):
    iface = DEVICE


class Adapter(PropertyObject):
    iface = ADAPTER

    def __init__(self, bus, address):
        super().__init__(bus, ADAPTER_PATH, {
            "Address": dbus.String(address),
            "Name": dbus.String("fake"),
            "Alias": dbus.String("fake"),
            "Powered": dbus.Boolean(False),
            "Discoverable": dbus.Boolean(False),
            "Pairable": dbus.Boolean(True),
        })
        self.bus = bus
        self.advertisements = set()
        self.app = None  # (sender, path, tree)

    @dbus.service.method(ADV_MANAGER, in_signature="oa{sv}", sender_keyword="sender",
                         async_callbacks=("reply", "error"))
    def RegisterAdvertisement(self, path, options, sender=None, reply=None, error=None):
        key = (str(sender), str(path))
        if key in self.advertisements:
            record("RegisterAdvertisement", path=str(path), error="org.bluez.Error.AlreadyExists")
            error(dbus.DBusException("Already registered", name="org.bluez.Error.AlreadyExists"))
            return

        # Like BlueZ: read the advertisement's properties before answering.
        def got(props):
            self.advertisements.add(key)
            record("RegisterAdvertisement", path=str(path), props=plain(props))
            reply()

        def failed(e):
            record("RegisterAdvertisement", path=str(path), error=e.get_dbus_name())
            error(dbus.DBusException("Cannot read advertisement", name="org.bluez.Error.Failed"))

        obj = self.bus.get_object(sender, path, introspect=False)
        obj.GetAll(ADVERTISEMENT, dbus_interface=PROPS, reply_handler=got, error_handler=failed,
                   timeout=CALL_TIMEOUT_S)

    @dbus.service.method(ADV_MANAGER, in_signature="o", sender_keyword="sender")
    def UnregisterAdvertisement(self, path, sender=None):
        key = (str(sender), str(path))
        if key not in self.advertisements:
            record("UnregisterAdvertisement", path=str(path), error="org.bluez.Error.DoesNotExist")
            raise dbus.DBusException("Not registered", name="org.bluez.Error.DoesNotExist")
        self.advertisements.discard(key)
        record("UnregisterAdvertisement", path=str(path))

    @dbus.service.method(GATT_MANAGER, in_signature="oa{sv}", sender_keyword="sender",
                         async_callbacks=("reply", "error"))
    def RegisterApplication(self, path, options, sender=None, reply=None, error=None):
        # Like BlueZ: read the whole object tree before answering.
        def got(objects):
            tree = plain(objects)
            self.app = (str(sender), str(path), tree)
            record("RegisterApplication", path=str(path), tree=tree)
            reply()

        def failed(e):
            record("RegisterApplication", path=str(path), error=e.get_dbus_name())
            error(dbus.DBusException("Cannot read application", name="org.bluez.Error.Failed"))

        obj = self.bus.get_object(sender, path, introspect=False)
        obj.GetManagedObjects(dbus_interface=OBJECT_MANAGER, reply_handler=got, error_handler=failed,
                              timeout=CALL_TIMEOUT_S)

    @dbus.service.method(GATT_MANAGER, in_signature="o", sender_keyword="sender")
    def UnregisterApplication(self, path, sender=None):
        record("UnregisterApplication", path=str(path))
        self.app = None


class Central:
    """Commands from the test: play a central against the registered application."""

    def __init__(self, bus, root, adapter):
        self.bus = bus
        self.root = root
        self.adapter = adapter
        self.device_path = ADAPTER_PATH + "/dev_11_22_33_44_55_66"
        bus.add_signal_receiver(self.on_properties, signal_name="PropertiesChanged", dbus_interface=PROPS,
                                path_keyword="path", sender_keyword="sender")

    def on_properties(self, iface, changed, invalidated, path=None, sender=None):
        if iface != CHARACTERISTIC:
            return
        if "Value" in changed:
            record("notify", path=str(path), hex=plain(changed["Value"]))
        if "Notifying" in changed:
            record("notifying", path=str(path), value=bool(changed["Notifying"]))

    def characteristic(self, uuid, service_uuid=None):
        if not self.adapter.app:
            return None
        sender, _, tree = self.adapter.app
        for path, interfaces in tree.items():
            props = interfaces.get(CHARACTERISTIC)
            if not props or props.get("UUID") != uuid:
                continue
            if service_uuid and tree.get(props.get("Service"), {}).get(SERVICE, {}).get("UUID") != service_uuid:
                continue
            return self.bus.get_object(sender, path, introspect=False)
        return None

    def run(self, request, answer):
        cmd = request.get("cmd")
        if cmd == "events":
            answer({"events": events})
        elif cmd in ("write", "read", "start_notify", "stop_notify"):
            obj = self.characteristic(request.get("uuid"), request.get("service"))
            if obj is None:
                answer({"error": "no such characteristic"})
                return
            ok = lambda *result: answer({"ok": True, **({"hex": plain(result[0])} if result else {})})
            failed = lambda e: answer({"error": e.get_dbus_name()})
            common = dict(dbus_interface=CHARACTERISTIC, reply_handler=ok, error_handler=failed,
                          timeout=CALL_TIMEOUT_S)
            options = {"device": dbus.ObjectPath(self.device_path),
                       "offset": dbus.UInt16(request.get("offset", 0))}
            if "mtu" in request:
                options["mtu"] = dbus.UInt16(request["mtu"])
            options = dbus.Dictionary(options, signature="sv")
            if cmd == "write":
                options["type"] = dbus.String("request")
                value = dbus.Array([dbus.Byte(b) for b in bytes.fromhex(request["hex"])], signature="y")
                obj.WriteValue(value, options, **common)
            elif cmd == "read":
                obj.ReadValue(options, **common)
            elif cmd == "start_notify":
                obj.StartNotify(**common)
            else:
                obj.StopNotify(**common)
        elif cmd == "connect":
            address = request.get("address", "11:22:33:44:55:66")
            self.device_path = ADAPTER_PATH + "/dev_" + address.replace(":", "_")
            device = self.root.devices.get(self.device_path)
            if device is None:
                device = Device(self.bus, self.device_path, {
                    "Address": dbus.String(address),
                    "Name": dbus.String("central"),
                    "Connected": dbus.Boolean(False),
                    "Adapter": dbus.ObjectPath(ADAPTER_PATH),
                })
                self.root.devices[self.device_path] = device
                self.root.InterfacesAdded(self.device_path, {DEVICE: device.props})
            device.change("Connected", dbus.Boolean(True))
            answer({"ok": True})
        elif cmd == "disconnect":
            device = self.root.devices.get(self.device_path)
            if device is not None:
                device.change("Connected", dbus.Boolean(False))
            answer({"ok": True})
        elif cmd == "powered":
            self.adapter.change("Powered", dbus.Boolean(bool(request.get("value"))))
            answer({"ok": True})
        else:
            answer({"error": "unknown command"})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True, help="D-Bus address of the private bus")
    parser.add_argument("--adapter-address", default="DC:A6:32:00:00:01")
    args = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(args.address)
    adapter = Adapter(bus, args.adapter_address)
    root = Root(bus, adapter)
    central = Central(bus, root, adapter)
    name = dbus.service.BusName("org.bluez", bus, do_not_queue=True)

    loop = GLib.MainLoop()
    stdin = sys.stdin.fileno()
    pending = bytearray()

    def answer(obj):
        sys.stdout.write(json.dumps(obj) + "\n")
        sys.stdout.flush()

    def on_stdin(fd, condition):
        data = os.read(fd, 65536)
        if not data:
            loop.quit()
            return False
        pending.extend(data)
        while b"\n" in pending:
            line, _, rest = bytes(pending).partition(b"\n")
            pending[:] = rest
            if line.strip():
                try:
                    central.run(json.loads(line), answer)
                except Exception as e:  # a broken command must not leave the test waiting
                    answer({"error": "exception: %s" % e})
        return True

    GLib.io_add_watch(stdin, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, on_stdin)
    GLib.timeout_add_seconds(LIFETIME_S, loop.quit)
    answer({"ready": True, "name": str(name.get_name())})
    loop.run()


if __name__ == "__main__":
    main()
