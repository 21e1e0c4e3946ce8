#include "SiblingMocks.h"

#include <QDBusConnectionInterface>

SiblingMocks::SiblingMocks()
    : camera(QStringLiteral("com.zandrel.quor.cameramanager"),
        QStringLiteral("/com/zandrel/quor/cameramanager/cameraobj"),
        QStringLiteral("com.zandrel.quor.camerainterface"))
    , rgb(QStringLiteral("com.zandrel.quor.rgbfeaturemanager"),
          QStringLiteral("/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj"),
          QStringLiteral("com.zandrel.quor.rgbmanagerinterface"))
    , status(QStringLiteral("com.zandrel.quor.statusmanager"),
          QStringLiteral("/com/zandrel/quor/statusmanager/statusobj"),
          QStringLiteral("com.zandrel.quor.statusinterface"))
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
    const QString i = QStringLiteral("i"), b = QStringLiteral("b");
    return camera.addMethod(QStringLiteral("VideoSetActive"), b, i,
               QStringLiteral("self.active = args[0]; ret = 0"))
        && camera.addMethod(QStringLiteral("VideoGetActive"), QString(), QStringLiteral("ib"),
            QStringLiteral("ret = (0, getattr(self, 'active', False))"))
        && camera.addMethod(
            QStringLiteral("CaptureSingle"), QStringLiteral("s"), i, QStringLiteral("ret = 0"))
        && rgb.addMethod(QStringLiteral("IsDisabled"), QString(), b,
            QStringLiteral("ret = getattr(self, 'disabled', False)"))
        && rgb.addMethod(QStringLiteral("Disable"), QStringLiteral("bb"), i,
            QStringLiteral("self.disabled = args[0]; ret = 0"))
        && status.addMethod(QStringLiteral("GetPowerOk"), QString(), QStringLiteral("ib"),
            QStringLiteral("ret = (0, True)"))
        && camera.clearCalls() && rgb.clearCalls();
}

bool SiblingMocks::captureWrites(const QString& dataDir)
{
    return camera.addMethod(QStringLiteral("CaptureSingle"), QStringLiteral("s"),
        QStringLiteral("i"),
        QStringLiteral("open(args[0].replace('/opt/quor/data', '%1', 1), 'wb').write(b'photo')\n"
                       "self.EmitSignal('com.zandrel.quor.camerainterface', 'CaptureDone', 'is', "
                       "[0, args[0]])\n"
                       "ret = 0")
            .arg(dataDir));
}
