#!/usr/bin/python3
"""A stand-in for UDisks2 on a private bus: one block device with a file system on one drive.

Arguments: bus address, mode ("ok" or "busy"), kernel name of the block device, call log file.
Prints "ready" once it owns the name org.freedesktop.UDisks2.
"""
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

address, mode, device, log = sys.argv[1:5]
BLOCK = '/org/freedesktop/UDisks2/block_devices/' + device
DRIVE = '/org/freedesktop/UDisks2/drives/Stick_SAVE_0001'


def record(line):
    with open(log, 'a', encoding='utf-8') as f:
        f.write(line + '\n')


class Block(dbus.service.Object):
    @dbus.service.method('org.freedesktop.DBus.Properties', in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        record('Get %s %s.%s' % (BLOCK, interface, name))
        if interface == 'org.freedesktop.UDisks2.Block' and name == 'Drive':
            return dbus.ObjectPath(DRIVE)
        raise dbus.exceptions.DBusException('No such property', name='org.freedesktop.DBus.Error.InvalidArgs')

    @dbus.service.method('org.freedesktop.UDisks2.Filesystem', in_signature='a{sv}')
    def Unmount(self, options):
        record('Unmount ' + BLOCK)
        if mode == 'busy':
            raise dbus.exceptions.DBusException('Error unmounting %s: target is busy' % device,
                                                name='org.freedesktop.UDisks2.Error.DeviceBusy')


class Drive(dbus.service.Object):
    @dbus.service.method('org.freedesktop.UDisks2.Drive', in_signature='a{sv}')
    def PowerOff(self, options):
        record('PowerOff ' + DRIVE)


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.bus.BusConnection(address)
Block(bus, BLOCK)
Drive(bus, DRIVE)
name = dbus.service.BusName('org.freedesktop.UDisks2', bus)
print('ready', flush=True)
GLib.MainLoop().run()
