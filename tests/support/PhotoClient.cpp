#include "PhotoClient.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>

#include <functional>

namespace {
const char kService[] = "com.zandrel.quor.photomanager";
const char kPath[] = "/com/zandrel/quor/photomanager/photoobj";
const char kInterface[] = "com.zandrel.quor.photointerface";

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}
} // namespace

PhotoClient::PhotoClient(const QString& connectionName)
    : m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
{
    const QString service = QString::fromLatin1(kService);
    const QString path = QString::fromLatin1(kPath);
    const QString interface = QString::fromLatin1(kInterface);
    m_connection.connect(service, path, interface, QStringLiteral("CameraEnabled"), this,
        SLOT(onCameraEnabled(bool)));
    m_connection.connect(service, path, interface, QStringLiteral("PhotoTaken"), this,
        SLOT(onPhotoTaken(int, QString)));
    m_connection.connect(service, path, interface, QStringLiteral("PhotoStreamStopped"), this,
        SLOT(onPhotoStreamStopped(int)));
}

PhotoClient::~PhotoClient()
{
    QDBusConnection::disconnectFromBus(m_connection.name());
}

QDBusMessage PhotoClient::call(const QString& method, const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(kService),
        QString::fromLatin1(kPath), QString::fromLatin1(kInterface), method);
    message.setArguments(args);
    return m_connection.call(message, QDBus::BlockWithGui, 30000);
}

int PhotoClient::callStatus(const QString& method, const QVariantList& args)
{
    const QDBusMessage reply = call(method, args);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return -1000;
    return reply.arguments().at(0).toInt();
}

QStringList PhotoClient::signalsReceived() const
{
    return m_signals;
}

void PhotoClient::clearSignals()
{
    m_signals.clear();
}

bool PhotoClient::waitForSignals(int n, int timeoutMs) const
{
    return waitUntil([&] { return m_signals.size() >= n; }, timeoutMs);
}

bool PhotoClient::waitForSignal(const QString& prefix, int timeoutMs) const
{
    return waitUntil(
        [&] {
            for (const QString& received : m_signals) {
                if (received.startsWith(prefix))
                    return true;
            }
            return false;
        },
        timeoutMs);
}

void PhotoClient::onCameraEnabled(bool enabled)
{
    m_signals << QStringLiteral("CameraEnabled(%1)")
                     .arg(enabled ? QStringLiteral("true") : QStringLiteral("false"));
}

void PhotoClient::onPhotoTaken(int status, const QString& path)
{
    m_signals << QStringLiteral("PhotoTaken(%1,%2)").arg(status).arg(path);
}

void PhotoClient::onPhotoStreamStopped(int count)
{
    m_signals << QStringLiteral("PhotoStreamStopped(%1)").arg(count);
}
