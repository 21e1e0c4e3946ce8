// One fast sibling service on the session bus: photomanager_bench_peer
// camera [DATA_DIR]|rgb|status; the camera writes its photos into DATA_DIR,
// the service's /opt/quor/data seen from outside its mount namespace.

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
        peer = std::make_unique<FakeCameraManager>(
            argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
        service = QString::fromLatin1(BusNames::kCameraService);
        path = QString::fromLatin1(BusNames::kCameraPath);
    } else if (std::strcmp(mode, "rgb") == 0) {
        peer = std::make_unique<FakeRgbManager>();
        service = QString::fromLatin1(BusNames::kRgbService);
        path = QString::fromLatin1(BusNames::kRgbPath);
    } else if (std::strcmp(mode, "status") == 0) {
        peer = std::make_unique<FakeStatusManager>();
        service = QString::fromLatin1(BusNames::kStatusService);
        path = QString::fromLatin1(BusNames::kStatusPath);
    } else {
        std::fprintf(stderr, "usage: %s camera [DATA_DIR]|rgb|status\n", argv[0]);
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
