#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QDBusError;
class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

// Whether one sibling service answers. Calls to siblings are synchronous, so
// a sibling that keeps its name but has stopped answering would hold the
// daemon for a whole time-out on every call. Once a call has timed out the
// sibling counts as silent: callers make no further call and give their
// failure result at once, until it shows life (it answers a ping, sends a
// signal, or its name is owned anew) or the back-off has passed, after which
// the next call tries it again.
class SiblingHealth : public QObject {
    Q_OBJECT

public:
    // Watches the service's owner itself unless it is given a watcher of it.
    SiblingHealth(const QString& service, QObject* parent, QDBusServiceWatcher* watcher = nullptr);

    // False while the sibling is silent and the back-off has not passed.
    bool callable() const;
    // False from a call that timed out until it shows life.
    bool answering() const;
    // Takes a call's outcome: a time-out makes the sibling silent, anything
    // else (a reply, or an error that some party sent) shows life.
    void noteReply(const QDBusError& error);
    const QString& service() const;

    static const int kBackOffMs = 3000;

public slots:
    // A message from the sibling, such as one of its signals.
    void noteLife();

signals:
    // Its name was owned anew, or it answers again after being silent.
    void available();
    void ownerChanged(bool owned);

private slots:
    void onOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void onPingFinished(QDBusPendingCallWatcher* watcher);

private:
    void ping();

    QString m_service;
    QByteArray m_logName;
    QDBusServiceWatcher* m_watcher;
    QDBusPendingCallWatcher* m_ping = nullptr;
    bool m_silent = false;
    QElapsedTimer m_silentSince;
};
