#include "BusWatcher.h"

#include "common/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>

BusWatcher::BusWatcher(QObject* parent)
    : QObject(parent)
{
}

// libdbus reports a closed connection as the signal Disconnected of the
// local interface, which never crosses the bus and has no sender.
bool BusWatcher::Watch()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
               QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this,
               SLOT(BusDisconnected()))
        && bus.isConnected();
}

void BusWatcher::BusDisconnected()
{
    PM_LOG(1, "[%s:%d] %s: Connection to the D-Bus session bus closed, exiting with status %d",
        kBusLostExitStatus);
    QCoreApplication::exit(kBusLostExitStatus);
}
