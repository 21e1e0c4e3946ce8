#include "PhotoClient.h"

#include <QDBusConnectionInterface>
#include <QRegularExpression>
#include <QTest>

namespace {
const QString kService = "com.zandrel.quor.photomanager";
const QString kPath = "/com/zandrel/quor/photomanager/photoobj";
const QString kInterface = "com.zandrel.quor.photointerface";
} // namespace

PhotoClient::PhotoClient(const QString& connectionName)
    : m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
{
    // No signal name: every signal of the interface.
    m_connection.connect(
        kService, kPath, kInterface, QString(), this, SLOT(onSignal(QDBusMessage)));
    // The bus handles a connection's messages in order: once this is answered,
    // the match rule above is in place and no signal is missed.
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

bool PhotoClient::waitForSignal(const QString& prefix, int timeoutMs) const
{
    const QRegularExpression start('^' + QRegularExpression::escape(prefix));
    return QTest::qWaitFor([&] { return !received.filter(start).isEmpty(); }, timeoutMs);
}

void PhotoClient::onSignal(const QDBusMessage& message)
{
    QStringList args;
    for (const QVariant& arg : message.arguments())
        args << arg.toString();
    received << message.member() + '(' + args.join(',') + ')';
}
