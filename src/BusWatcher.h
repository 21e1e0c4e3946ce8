#pragma once

#include <QObject>

// Ends the event loop when the daemon's session bus connection closes. A
// daemon without its bus can serve no one and would otherwise idle forever;
// exiting with a failure status lets its supervisor start it again once the
// bus is back.
class BusWatcher : public QObject {
    Q_OBJECT

public:
    explicit BusWatcher(QObject* parent = nullptr);

    // Exit status of the event loop after the bus went away.
    static const int kBusLostExitStatus = 2;

    // Subscribes to the connection's own end-of-connection notice; false
    // when that is impossible or the bus is already gone.
    bool Watch();

private slots:
    void BusDisconnected();
};
