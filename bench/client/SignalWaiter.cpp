#include "SignalWaiter.h"

#include "Clock.h"

#include <QEventLoop>
#include <QTimer>

SignalWaiter::SignalWaiter(const QDBusConnection& connection, const QString& path,
    const QString& interface, const QString& name, const QVariant& firstArgument)
    : m_connection(connection)
    , m_path(path)
    , m_interface(interface)
    , m_name(name)
    , m_firstArgument(firstArgument)
    , m_count(0)
    , m_lastNs(0)
    , m_loop(nullptr)
    , m_target(0)
{
    m_connected = m_connection.connect(
        QString(), m_path, m_interface, m_name, this, SLOT(received(QDBusMessage)));
}

SignalWaiter::~SignalWaiter()
{
    if (m_connected)
        m_connection.disconnect(
            QString(), m_path, m_interface, m_name, this, SLOT(received(QDBusMessage)));
}

bool SignalWaiter::isConnected() const
{
    return m_connected;
}

int SignalWaiter::count() const
{
    return m_count;
}

qint64 SignalWaiter::lastNs() const
{
    return m_lastNs;
}

bool SignalWaiter::waitFor(int n, int timeoutMs)
{
    if (m_count >= n)
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(timeoutMs);
    m_loop = &loop;
    m_target = n;
    loop.exec();
    m_loop = nullptr;
    return m_count >= n;
}

void SignalWaiter::received(const QDBusMessage& message)
{
    if (m_firstArgument.isValid()
        && (message.arguments().isEmpty() || message.arguments().constFirst() != m_firstArgument))
        return;
    m_lastNs = nowNs();
    ++m_count;
    if (m_loop && m_count >= m_target)
        m_loop->quit();
}
