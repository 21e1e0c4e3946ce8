#pragma once

#include <QProcess>

// A private dbus-daemon for one test process. Started before anything asks
// for the session bus, it points DBUS_SESSION_BUS_ADDRESS at itself, so this
// process, the daemon under test and every peer use it.
class PrivateBus {
public:
    ~PrivateBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    bool start()
    {
        m_daemon.setStandardErrorFile(QProcess::nullDevice()); // only "cannot raise fd limit"
        m_daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        for (int second = 0; second < 10 && !m_daemon.canReadLine(); ++second)
            m_daemon.waitForReadyRead(1000);
        const QByteArray address = m_daemon.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        return !address.isEmpty();
    }

private:
    QProcess m_daemon;
};
