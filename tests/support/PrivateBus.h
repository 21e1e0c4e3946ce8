#pragma once

#include <QProcess>

// A private dbus-daemon for one test process. Started before anything asks
// for the session bus, it points DBUS_SESSION_BUS_ADDRESS at itself, so this
// process, the daemon under test and every peer use it.
class PrivateBus {
public:
    ~PrivateBus();
    bool start();

private:
    QProcess m_daemon;
};
