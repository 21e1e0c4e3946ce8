#pragma once

#include <QObject>
#include <QTimer>

// Tells the service manager from the event loop that the daemon is alive
// (sd_notify WATCHDOG=1) at half the interval it asked for in
// $WATCHDOG_USEC, so that a daemon stuck in a call or stopped is restarted.
// Without that variable it does nothing.
class ServiceWatchdog : public QObject {
    Q_OBJECT

public:
    explicit ServiceWatchdog(QObject* parent = nullptr);

    // Starts the pings when the manager watches this process; the interval
    // in milliseconds, 0 when it does not.
    int Start();

private slots:
    void Ping();

private:
    QTimer m_timer;
};
