#pragma once

#include <QProcess>
#include <QString>

// A private dbus-daemon for one side of the comparison. Nothing of the
// machine's own buses is used.
class BenchBus {
public:
    BenchBus();
    ~BenchBus();

    bool start();
    void stop();
    QString address() const;
    qint64 pid() const;

private:
    QProcess m_daemon;
    QString m_address;
};
