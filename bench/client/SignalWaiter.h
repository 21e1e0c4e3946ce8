#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariant>

class QEventLoop;

// Counts one bus signal as it arrives on a connection and remembers when the
// last one came. Optionally only signals whose first argument equals a value.
class SignalWaiter : public QObject {
    Q_OBJECT

public:
    SignalWaiter(const QDBusConnection& connection, const QString& path, const QString& interface,
        const QString& name, const QVariant& firstArgument = QVariant());
    ~SignalWaiter() override;

    bool isConnected() const;
    int count() const;
    qint64 lastNs() const;
    // Serves the event loop until count() reaches n.
    bool waitFor(int n, int timeoutMs = 10000);

private slots:
    void received(const QDBusMessage& message);

private:
    QDBusConnection m_connection;
    QString m_path;
    QString m_interface;
    QString m_name;
    QVariant m_firstArgument;
    bool m_connected;
    int m_count;
    qint64 m_lastNs;
    QEventLoop* m_loop;
    int m_target;
};
