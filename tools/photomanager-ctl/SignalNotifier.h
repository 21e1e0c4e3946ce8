#pragma once

#include <QObject>

class QSocketNotifier;

// Delivers SIGINT and SIGTERM to the event loop as a Qt signal. Both are
// blocked in the calling thread and read from a signalfd; threads inherit the
// mask only when they start later, so create this before anything touches
// the bus.
class SignalNotifier : public QObject {
    Q_OBJECT

public:
    explicit SignalNotifier(QObject* parent = nullptr);
    ~SignalNotifier() override;

    bool isValid() const;

signals:
    void Received(int signal);

private slots:
    void ReadSignal();

private:
    int m_fd;
    QSocketNotifier* m_notifier;
};
