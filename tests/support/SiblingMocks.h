#pragma once

#include "MockPeer.h"

#include <QDBusConnectionInterface>

// The three siblings as dbusmock processes with well-behaved defaults that a
// test overrides method by method: video on/off and the RGB flag are
// tracked, CaptureSingle answers 0, the status manager reports power.
class SiblingMocks {
public:
    MockPeer camera{"com.zandrel.quor.cameramanager", "/com/zandrel/quor/cameramanager/cameraobj",
        "com.zandrel.quor.camerainterface"};
    MockPeer rgb{"com.zandrel.quor.rgbfeaturemanager",
        "/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj",
        "com.zandrel.quor.rgbmanagerinterface"};
    MockPeer status{"com.zandrel.quor.statusmanager", "/com/zandrel/quor/statusmanager/statusobj",
        "com.zandrel.quor.statusinterface"};

    bool start()
    {
        return camera.start() && rgb.start() && status.start() && reset();
    }
    // Default behaviour back, calls forgotten; a stopped peer is started again.
    bool reset()
    {
        for (MockPeer* peer : {&camera, &rgb, &status}) {
            // A peer stopped or crashed by a test is not on the bus any more.
            if (!QDBusConnection::sessionBus().interface()->isServiceRegistered(peer->service)
                && !peer->start())
                return false;
        }
        return camera.addMethod("VideoSetActive", "b", "i", "self.active = args[0]; ret = 0")
            && camera.addMethod(
                "VideoGetActive", "", "ib", "ret = (0, getattr(self, 'active', False))")
            && camera.addMethod("CaptureSingle", "s", "i", "ret = 0")
            && rgb.addMethod("IsDisabled", "", "b", "ret = getattr(self, 'disabled', False)")
            && rgb.addMethod("Disable", "bb", "i", "self.disabled = args[0]; ret = 0")
            && status.addMethod("GetPowerOk", "", "ib", "ret = (0, True)") && camera.clearCalls()
            && rgb.clearCalls();
    }
    // CaptureSingle then writes the file and emits CaptureDone(0, path); the
    // daemon's /opt/quor/data is dataDir here, outside its namespace.
    bool captureWrites(const QString& dataDir)
    {
        return camera.addMethod("CaptureSingle", "s", "i",
            "open(args[0].replace('/opt/quor/data', '" + dataDir
                + "', 1), 'wb').write(b'photo')\n"
                  "self.EmitSignal('com.zandrel.quor.camerainterface', 'CaptureDone', 'is', [0, "
                  "args[0]])\n"
                  "ret = 0");
    }
};
