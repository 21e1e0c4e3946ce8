#include "PhotoClient.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>

#include <algorithm>

namespace {
const QString kService = "com.zandrel.quor.photomanager";
const QString kPath = "/com/zandrel/quor/photomanager/photoobj";
const QString kInterface = "com.zandrel.quor.photointerface";
} // namespace

PhotoClient::PhotoClient(const QString& connectionName)
    : m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
{
    m_connection.connect(
        kService, kPath, kInterface, "CameraEnabled", this, SLOT(onCameraEnabled(bool)));
    m_connection.connect(
        kService, kPath, kInterface, "PhotoTaken", this, SLOT(onPhotoTaken(int, QString)));
    m_connection.connect(
        kService, kPath, kInterface, "PhotoStreamStopped", this, SLOT(onPhotoStreamStopped(int)));
    m_connection.connect(kService, kPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
        this, SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    // The bus handles a connection's messages in order: once this is answered,
    // the match rules above are in place and no signal is missed.
    m_connection.interface()->isServiceRegistered(kService);
}

PhotoClient::~PhotoClient()
{
    QDBusConnection::disconnectFromBus(m_connection.name());
}

QDBusMessage PhotoClient::call(const QString& method, const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(args);
    return m_connection.call(message, QDBus::BlockWithGui, 30000);
}

int PhotoClient::callStatus(const QString& method, const QVariantList& args)
{
    const QDBusMessage reply = call(method, args);
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toInt() : -1000;
}

QVariantMap PhotoClient::properties()
{
    QDBusMessage getAll = QDBusMessage::createMethodCall(
        kService, kPath, "org.freedesktop.DBus.Properties", "GetAll");
    getAll << "com.zandrel.quor.photostate";
    const QDBusMessage reply = m_connection.call(getAll, QDBus::BlockWithGui, 30000);
    QVariantMap values = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    for (QVariant& value : values)
        value = value.toString();
    return values;
}

bool PhotoClient::waitForSignal(const QString& prefix, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    const auto seen = [&] {
        return std::any_of(received.cbegin(), received.cend(),
            [&](const QString& signal) { return signal.startsWith(prefix); });
    };
    while (!seen() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return seen();
}

void PhotoClient::onCameraEnabled(bool enabled)
{
    received << (enabled ? "CameraEnabled(true)" : "CameraEnabled(false)");
}

void PhotoClient::onPhotoTaken(int status, const QString& path)
{
    received << QStringLiteral("PhotoTaken(%1,%2)").arg(status).arg(path);
}

void PhotoClient::onPhotoStreamStopped(int count)
{
    received << QStringLiteral("PhotoStreamStopped(%1)").arg(count);
}

void PhotoClient::onPropertiesChanged(
    const QString& /*interface*/, const QVariantMap& changed, const QStringList& /*invalidated*/)
{
    QStringList values;
    for (auto it = changed.cbegin(); it != changed.cend(); ++it)
        values << it.key() + '=' + it.value().toString();
    received << "PropertiesChanged(" + values.join(',') + ')';
}
