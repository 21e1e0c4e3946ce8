'''Status manager of the simulated device (python-dbusmock template).

Reports whether power is supplied. The control interface
com.zandrel.quor.sim.Control switches it by hand:
  SetPowerOk(b)   sets the flag and signals PowerOkChanged(b)

Parameters (JSON): {"power": true}
'''

import dbus

BUS_NAME = 'com.zandrel.quor.statusmanager'
MAIN_OBJ = '/com/zandrel/quor/statusmanager/statusobj'
MAIN_IFACE = 'com.zandrel.quor.statusinterface'
CONTROL_IFACE = 'com.zandrel.quor.sim.Control'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.power = bool(parameters.get('power', True))


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='ib')
def GetPowerOk(self):
    return (0, self.power)


@dbus.service.method(CONTROL_IFACE, in_signature='b', out_signature='')
def SetPowerOk(self, power):
    self.power = bool(power)
    self.EmitSignal(MAIN_IFACE, 'PowerOkChanged', 'b', [self.power])
