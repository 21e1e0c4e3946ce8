#pragma once

#include <QProcess>
#include <QString>

// A private dbus-daemon for one test process. It must be started before
// anything in the process asks for the session bus: it points
// DBUS_SESSION_BUS_ADDRESS at itself, so QDBusConnection::sessionBus(), the
// daemon under test and every peer process use it.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();

    bool start();
    QString address() const;

private:
    QProcess m_daemon;
    QString m_address;
};
