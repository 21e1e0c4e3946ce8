#include "SiblingHealth.h"

#include "common/Log.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

SiblingHealth::SiblingHealth(const QString& service, QObject* parent, QDBusServiceWatcher* watcher)
    : QObject(parent)
    , m_service(service)
    , m_logName(service.toLocal8Bit())
    , m_watcher(watcher ? watcher
                        : new QDBusServiceWatcher(service, QDBusConnection::sessionBus(),
                            QDBusServiceWatcher::WatchForOwnerChange, this))
{
    connect(
        m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &SiblingHealth::onOwnerChanged);
}

bool SiblingHealth::callable() const
{
    return !m_silent || m_silentSince.hasExpired(kBackOffMs);
}

bool SiblingHealth::answering() const
{
    return !m_silent;
}

const QString& SiblingHealth::service() const
{
    return m_service;
}

namespace {
enum class Outcome { Answered, TimedOut, NoOwner };

// The bus itself answers for a sibling that is not there; its departure is
// the owner watcher's business.
Outcome outcomeOf(const QDBusError& error)
{
    switch (error.type()) {
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return Outcome::TimedOut;
    case QDBusError::ServiceUnknown:
        return Outcome::NoOwner;
    default:
        return Outcome::Answered;
    }
}
} // namespace

void SiblingHealth::noteReply(const QDBusError& error)
{
    const Outcome outcome = outcomeOf(error);
    if (outcome == Outcome::Answered)
        noteLife();
    if (outcome != Outcome::TimedOut)
        return;
    if (!m_silent)
        PM_LOG(2, "[%s:%d] %s: %s stopped answering: no call is made to it until it answers again",
            m_logName.constData());
    m_silent = true;
    m_silentSince.start();
    ping();
}

void SiblingHealth::noteLife()
{
    if (!m_silent)
        return;
    m_silent = false;
    PM_LOG(4, "[%s:%d] %s: %s answers again", m_logName.constData());
    emit available();
}

// Any connection answers the standard Peer.Ping from its own main loop, so
// the answer comes as soon as the sibling handles messages again.
void SiblingHealth::ping()
{
    if (m_ping)
        return;
    const QDBusMessage call = QDBusMessage::createMethodCall(m_service, QStringLiteral("/"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    m_ping = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(m_ping, &QDBusPendingCallWatcher::finished, this, &SiblingHealth::onPingFinished);
}

void SiblingHealth::onPingFinished(QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    m_ping = nullptr;
    if (!m_silent)
        return;
    // Still no answer: keep asking while it stays silent.
    const Outcome outcome = outcomeOf(watcher->error());
    if (outcome == Outcome::TimedOut)
        ping();
    else if (outcome == Outcome::Answered)
        noteLife();
}

void SiblingHealth::onOwnerChanged(
    const QString& /*name*/, const QString& /*oldOwner*/, const QString& newOwner)
{
    const bool owned = !newOwner.isEmpty();
    // A new owner is a new process; a departed one makes calls fail at once
    // through the bus anyway.
    if (m_silent) {
        m_silent = false;
        PM_LOG(4, "[%s:%d] %s: %s %s: calls to it are made again", m_logName.constData(),
            owned ? "owned anew" : "left the bus");
    }
    emit ownerChanged(owned);
    if (owned)
        emit available();
}
