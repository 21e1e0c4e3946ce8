'''RGB feature manager of the simulated device (python-dbusmock template).

Keeps the flag behind IsDisabled and Disable(value, save), and signals
RgbDisabled when it changes. The device-state setters answer and are only
remembered.
'''

import dbus

BUS_NAME = 'com.zandrel.quor.rgbfeaturemanager'
MAIN_OBJ = '/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj'
MAIN_IFACE = 'com.zandrel.quor.rgbmanagerinterface'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.disabled = bool(parameters.get('disabled', False))
    mock.device_state = {}


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='b')
def IsDisabled(self):
    return self.disabled


@dbus.service.method(MAIN_IFACE, in_signature='bb', out_signature='i')
def Disable(self, value, save):
    changed = self.disabled != bool(value)
    self.disabled = bool(value)
    if changed:
        self.EmitSignal(MAIN_IFACE, 'RgbDisabled', 'b', [self.disabled])
    return 0


@dbus.service.method(MAIN_IFACE, in_signature='i', out_signature='')
def SetAtxStatus(self, status):
    self.device_state['atx_status'] = int(status)


@dbus.service.method(MAIN_IFACE, in_signature='b', out_signature='')
def SetBattery(self, ok):
    self.device_state['battery'] = bool(ok)


@dbus.service.method(MAIN_IFACE, in_signature='b', out_signature='')
def SetPresence(self, presence):
    self.device_state['presence'] = bool(presence)


@dbus.service.method(MAIN_IFACE, in_signature='b', out_signature='')
def SetSupply(self, ok):
    self.device_state['supply'] = bool(ok)


@dbus.service.method(MAIN_IFACE, in_signature='b', out_signature='')
def SetUpdateInProgress(self, updating):
    self.device_state['update_in_progress'] = bool(updating)
