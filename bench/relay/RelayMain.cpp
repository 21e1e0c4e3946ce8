// The relay floor of the photo end to end (photomanager_bench_relay): the
// daemon's messages of one photo and nothing else, on the session bus.

#include "PhotoRelay.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <cstdio>

int main(int argc, char** argv)
{
    // As the daemon runs: Qt's own event loop, not GLib's.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    PhotoRelay relay;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QString::fromLatin1(BusNames::kPhotoPath), &relay,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
        || !bus.registerService(QString::fromLatin1(BusNames::kPhotoService))) {
        std::fprintf(stderr, "relay: cannot register on the session bus\n");
        return 255;
    }
    return QCoreApplication::exec();
}
