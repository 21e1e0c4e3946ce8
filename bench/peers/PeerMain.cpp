// One fast sibling service on the session bus: photomanager_bench_peer
// camera|rgb|status.

#include "FakeCameraManager.h"
#include "FakeRgbManager.h"
#include "FakeStatusManager.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const char* mode = argc > 1 ? argv[1] : "";
    std::unique_ptr<QObject> peer;
    QString service;
    QString path;
    if (std::strcmp(mode, "camera") == 0) {
        peer = std::make_unique<FakeCameraManager>();
        service = QStringLiteral("com.zandrel.quor.cameramanager");
        path = QStringLiteral("/com/zandrel/quor/cameramanager/cameraobj");
    } else if (std::strcmp(mode, "rgb") == 0) {
        peer = std::make_unique<FakeRgbManager>();
        service = QStringLiteral("com.zandrel.quor.rgbfeaturemanager");
        path = QStringLiteral("/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj");
    } else if (std::strcmp(mode, "status") == 0) {
        peer = std::make_unique<FakeStatusManager>();
        service = QStringLiteral("com.zandrel.quor.statusmanager");
        path = QStringLiteral("/com/zandrel/quor/statusmanager/statusobj");
    } else {
        std::fprintf(stderr, "usage: %s camera|rgb|status\n", argv[0]);
        return 2;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(
            path, peer.get(), QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
        || !bus.registerService(service)) {
        std::fprintf(stderr, "peer %s: cannot register on the session bus\n", mode);
        return 255;
    }
    return QCoreApplication::exec();
}
