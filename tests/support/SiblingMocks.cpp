#include "SiblingMocks.h"

const char* const SiblingMocks::cameraService = "com.zandrel.quor.cameramanager";
const char* const SiblingMocks::cameraPath = "/com/zandrel/quor/cameramanager/cameraobj";
const char* const SiblingMocks::rgbService = "com.zandrel.quor.rgbfeaturemanager";
const char* const SiblingMocks::rgbPath = "/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj";

SiblingMocks::SiblingMocks()
    : camera(QLatin1String(cameraService), QLatin1String(cameraPath),
        QStringLiteral("com.zandrel.quor.camerainterface"))
    , rgb(QLatin1String(rgbService), QLatin1String(rgbPath),
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
    const QString i = QStringLiteral("i");
    const QString b = QStringLiteral("b");
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
        && setPower(true) && camera.clearCalls() && rgb.clearCalls() && status.clearCalls();
}

bool SiblingMocks::captureWrites(const QString& dataDir)
{
    const QString code = QStringLiteral(
        "path = args[0]\n"
        "real = path.replace('/opt/quor/data', '%1', 1) if '%1' else path\n"
        "open(real, 'wb').write(b'\\xff\\xd8photo\\xff\\xd9')\n"
        "self.EmitSignal('com.zandrel.quor.camerainterface', 'CaptureDone', 'is', [0, path])\n"
        "ret = 0");
    return camera.addMethod(QStringLiteral("CaptureSingle"), QStringLiteral("s"),
        QStringLiteral("i"), code.arg(dataDir));
}

bool SiblingMocks::setPower(bool power, int statusCode)
{
    return status.addMethod(QStringLiteral("GetPowerOk"), QString(), QStringLiteral("ib"),
        QStringLiteral("ret = (%1, %2)")
            .arg(statusCode)
            .arg(power ? QStringLiteral("True") : QStringLiteral("False")));
}
