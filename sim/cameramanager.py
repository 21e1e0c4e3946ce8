'''Camera manager of the simulated device (python-dbusmock template).

Keeps the video-active flag and captures into the path it is given: the
capture call answers at once, and about capture_delay_ms later the JPEG is
in place and CaptureDone(0, path) follows, as on the device. A path that
cannot be written gives CaptureDone(-errno, path).

The control interface com.zandrel.quor.sim.Control is for fault trials:
  SetFailing(b)          every method answers -1, captures end with CaptureDone(-5)
  SetReplyDelay(u ms)    every answer of the camera interface comes that much later
  SetSendCaptureDone(b)  false: captures never report back

Parameters (JSON): {"capture_delay_ms": 300}
'''

import errno
import os
import sys
import threading
import time

import dbus
from gi.repository import GLib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import snapshot  # noqa: E402

BUS_NAME = 'com.zandrel.quor.cameramanager'
MAIN_OBJ = '/com/zandrel/quor/cameramanager/cameraobj'
MAIN_IFACE = 'com.zandrel.quor.camerainterface'
CONTROL_IFACE = 'com.zandrel.quor.sim.Control'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.video_active = False
    mock.failing = False
    mock.reply_delay_ms = 0
    mock.send_capture_done = True
    mock.capture_delay_ms = int(parameters.get('capture_delay_ms', 300))
    mock.captures = 0


def _answer(self, reply, *values):
    '''Replies now, or after the configured delay without holding the main loop.'''
    if self.reply_delay_ms <= 0:
        reply(*values)
        return

    def late():
        reply(*values)
        return False
    GLib.timeout_add(self.reply_delay_ms, late)


def _write_photo(path, number, when):
    '''Status of writing capture `number` to path: 0 or -errno.'''
    try:
        data = snapshot.render(number, when)
        with open(path, 'wb') as photo:
            photo.write(data)
    except OSError as error:
        return -(error.errno or errno.EIO)
    return 0


def _capture(self, path, reply):
    self.captures += 1
    number = self.captures
    started = time.monotonic()
    _answer(self, reply, -1 if self.failing else 0)

    def report(status):
        if self.send_capture_done:
            self.EmitSignal(MAIN_IFACE, 'CaptureDone', 'is', [status, path])
        return False

    def done(status):
        # Runs on the main loop; the report never comes before the delay.
        remaining = self.capture_delay_ms - int((time.monotonic() - started) * 1000)
        if remaining > 0:
            GLib.timeout_add(remaining, report, status)
        else:
            report(status)
        return False

    if self.failing:
        done(-errno.EIO)
        return
    # Encoding takes a good part of the delay; a thread keeps the bus answering.
    when = time.time()
    threading.Thread(target=lambda: GLib.idle_add(done, _write_photo(path, number, when)),
                     daemon=True).start()


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='i',
                     async_callbacks=('reply', 'error'))
def CaptureSingle(self, path, reply, error):
    _capture(self, str(path), reply)


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='i',
                     async_callbacks=('reply', 'error'))
def CaptureImage(self, path, reply, error):
    _capture(self, str(path), reply)


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='ib',
                     async_callbacks=('reply', 'error'))
def VideoGetActive(self, reply, error):
    _answer(self, reply, -1 if self.failing else 0, self.video_active)


@dbus.service.method(MAIN_IFACE, in_signature='b', out_signature='i',
                     async_callbacks=('reply', 'error'))
def VideoSetActive(self, active, reply, error):
    if not self.failing:
        self.video_active = bool(active)
    _answer(self, reply, -1 if self.failing else 0)


@dbus.service.method(CONTROL_IFACE, in_signature='b', out_signature='')
def SetFailing(self, failing):
    self.failing = bool(failing)


@dbus.service.method(CONTROL_IFACE, in_signature='u', out_signature='')
def SetReplyDelay(self, milliseconds):
    self.reply_delay_ms = int(milliseconds)


@dbus.service.method(CONTROL_IFACE, in_signature='b', out_signature='')
def SetSendCaptureDone(self, send):
    self.send_capture_done = bool(send)
