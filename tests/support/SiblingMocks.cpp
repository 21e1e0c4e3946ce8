#include "SiblingMocks.h"

#include <QDBusConnectionInterface>

SiblingMocks::SiblingMocks()
    : camera("com.zandrel.quor.cameramanager", "/com/zandrel/quor/cameramanager/cameraobj",
        "com.zandrel.quor.camerainterface")
    , rgb("com.zandrel.quor.rgbfeaturemanager", "/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj",
          "com.zandrel.quor.rgbmanagerinterface")
    , status("com.zandrel.quor.statusmanager", "/com/zandrel/quor/statusmanager/statusobj",
          "com.zandrel.quor.statusinterface")
{
}

bool SiblingMocks::start()
{
    return camera.start() && rgb.start() && status.start() && reset();
}

bool SiblingMocks::reset()
{
    for (MockPeer* peer : {&camera, &rgb, &status}) {
        // A peer stopped or crashed by a test is not on the bus any more.
        if (!QDBusConnection::sessionBus().interface()->isServiceRegistered(peer->service).value()
            && !peer->start())
            return false;
    }
    const QString i = "i", b = "b";
    return camera.addMethod("VideoSetActive", b, i, "self.active = args[0]; ret = 0")
        && camera.addMethod(
            "VideoGetActive", QString(), "ib", "ret = (0, getattr(self, 'active', False))")
        && camera.addMethod("CaptureSingle", "s", i, "ret = 0")
        && rgb.addMethod("IsDisabled", QString(), b, "ret = getattr(self, 'disabled', False)")
        && rgb.addMethod("Disable", "bb", i, "self.disabled = args[0]; ret = 0")
        && status.addMethod("GetPowerOk", QString(), "ib", "ret = (0, True)") && camera.clearCalls()
        && rgb.clearCalls();
}

bool SiblingMocks::captureWrites(const QString& dataDir)
{
    return camera.addMethod("CaptureSingle", "s", "i",
        QStringLiteral("open(args[0].replace('/opt/quor/data', '%1', 1), 'wb').write(b'photo')\n"
                       "self.EmitSignal('com.zandrel.quor.camerainterface', 'CaptureDone', 'is', "
                       "[0, args[0]])\n"
                       "ret = 0")
            .arg(dataDir));
}
