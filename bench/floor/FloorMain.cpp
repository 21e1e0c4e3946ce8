// The floor service: owns the photo manager's bus name and exports the photo
// interface at its object path, and does nothing else.

#include "FloorAdaptor.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QObject photoObject;
    new FloorAdaptor(&photoObject);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/com/zandrel/quor/photomanager/photoobj"), &photoObject,
            QDBusConnection::ExportAdaptors)
        || !bus.registerService(QStringLiteral("com.zandrel.quor.photomanager"))) {
        std::fprintf(stderr, "floor: cannot register on the session bus\n");
        return 255;
    }
    return QCoreApplication::exec();
}
