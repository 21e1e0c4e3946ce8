#pragma once

#include "MockPeer.h"
#include "common/BusNames.h"

#include <QDBusConnectionInterface>

// The three siblings as dbusmock processes with well-behaved defaults that a
// test overrides method by method: video on/off and the RGB flag are
// tracked, CaptureSingle answers 0, the status manager reports power.
class SiblingMocks {
public:
    MockPeer camera{BusNames::kCameraService, BusNames::kCameraPath, BusNames::kCameraInterface};
    MockPeer rgb{BusNames::kRgbService, BusNames::kRgbPath, BusNames::kRgbInterface};
    MockPeer status{BusNames::kStatusService, BusNames::kStatusPath, BusNames::kStatusInterface};

    bool start()
    {
        return camera.start() && rgb.start() && status.start() && reset();
    }
    // Default behaviour back, calls forgotten; a peer that a test stopped or
    // crashed (it is not on the bus any more) is started again.
    bool reset()
    {
        for (MockPeer* peer : {&camera, &rgb, &status})
            if (!QDBusConnection::sessionBus().interface()->isServiceRegistered(peer->service)
                && !peer->start())
                return false;
        return camera.addMethod("VideoSetActive", "b", "i", "self.active = args[0]; ret = 0")
            && camera.addMethod(
                "VideoGetActive", "", "ib", "ret = (0, getattr(self, 'active', False))")
            && camera.addMethod("CaptureSingle", "s", "i", "ret = 0")
            && rgb.addMethod("IsDisabled", "", "b", "ret = getattr(self, 'disabled', False)")
            && rgb.addMethod("Disable", "bb", "i", "self.disabled = args[0]; ret = 0")
            && status.addMethod("GetPowerOk", "", "ib", "ret = (0, True)") && camera.clearCalls()
            && rgb.clearCalls();
    }
    // CaptureSingle then writes bytes (an expression) to the path (the daemon's
    // /opt/quor/data is dataDir here, outside its namespace), answers answer,
    // and emits CaptureDone(done, path), -errno if the write failed, unless
    // done is 1.
    bool captureWrites(
        const QString& dataDir, const QString& bytes = "5", int done = 0, int answer = 0)
    {
        return camera.addMethod("CaptureSingle", "s", "i",
            QString(
                "st = %1\ntry:\n"
                "    open(args[0].replace('/opt/quor/data', '%2', 1), 'wb').write(b'x' * (%3))\n"
                "except OSError as e:\n    st = -e.errno\n"
                "if st <= 0:\n"
                "    self.EmitSignal('" QUOR_CAMERA_INTERFACE
                "', 'CaptureDone', 'is', [st, args[0]])\n"
                "ret = %4")
                .arg(QString::number(done), dataDir, bytes, QString::number(answer)));
    }
};
