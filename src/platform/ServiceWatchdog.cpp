#include "ServiceWatchdog.h"

#include <systemd/sd-daemon.h>

ServiceWatchdog::ServiceWatchdog(QObject* parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ServiceWatchdog::Ping);
}

int ServiceWatchdog::Start()
{
    uint64_t usec = 0;
    // Only for this process: the variables name its pid.
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return 0;
    const int intervalMs
        = static_cast<int>(qBound<uint64_t>(1, usec / 2000, uint64_t(24) * 3600 * 1000));
    m_timer.start(intervalMs);
    Ping();
    return intervalMs;
}

void ServiceWatchdog::Ping()
{
    sd_notify(0, "WATCHDOG=1");
}
