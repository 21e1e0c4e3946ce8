#include "MockPeer.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QThread>

#include <signal.h>

namespace {
const char kMockInterface[] = "org.freedesktop.DBus.Mock";
// Debian's dbusmock module is installed for the system interpreter only.
const char kPython[] = "/usr/bin/python3";

QVariant unwrap(const QVariant& value)
{
    if (value.userType() == qMetaTypeId<QDBusVariant>())
        return unwrap(value.value<QDBusVariant>().variant());
    return value;
}
} // namespace

MockPeer::MockPeer(const QStringList& arguments, const QString& service, const QString& path,
    const QString& interface)
    : m_arguments(arguments)
    , m_service(service)
    , m_path(path)
    , m_interface(interface)
    , m_process(std::make_unique<QProcess>())
{
    m_process->setProcessChannelMode(QProcess::MergedChannels);
}

MockPeer::MockPeer(const QString& service, const QString& path, const QString& interface)
    : MockPeer({QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"),
                   service, path, interface},
        service, path, interface)
{
}

MockPeer MockPeer::fromTemplate(const QString& templateFile, const QString& service,
    const QString& path, const QString& interface, const QString& parametersJson)
{
    QStringList arguments{QStringLiteral("-m"), QStringLiteral("dbusmock"),
        QStringLiteral("--session"), QStringLiteral("-t"), templateFile};
    if (!parametersJson.isEmpty())
        arguments << QStringLiteral("-p") << parametersJson;
    return MockPeer(arguments, service, path, interface);
}

MockPeer::~MockPeer()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

bool MockPeer::start()
{
    // A peer that has just crashed may have left the bus before its process is reaped.
    if (m_process->state() != QProcess::NotRunning)
        m_process->waitForFinished(10000);
    m_process->start(QString::fromLatin1(kPython), m_arguments);
    if (!m_process->waitForStarted(10000))
        return false;
    return waitForOwner(true, 20000);
}

bool MockPeer::stop()
{
    m_process->terminate();
    m_process->waitForFinished(10000);
    return waitForOwner(false, 10000);
}

bool MockPeer::kill()
{
    ::kill(static_cast<pid_t>(m_process->processId()), SIGKILL);
    m_process->waitForFinished(10000);
    return waitForOwner(false, 10000);
}

bool MockPeer::isRunning() const
{
    return m_process->state() == QProcess::Running;
}

bool MockPeer::waitForOwner(bool owned, int timeoutMs)
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const QDeadlineTimer deadline(timeoutMs);
    while (bus->isServiceRegistered(m_service).value() != owned) {
        if (deadline.hasExpired() || (owned && m_process->state() == QProcess::NotRunning))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

bool MockPeer::addMethod(const QString& name, const QString& inSignature,
    const QString& outSignature, const QString& pythonCode)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_service, m_path, QString::fromLatin1(kMockInterface), QStringLiteral("AddMethod"));
    call << m_interface << name << inSignature << outSignature << pythonCode;
    return QDBusConnection::sessionBus().call(call).type() == QDBusMessage::ReplyMessage;
}

bool MockPeer::emitSignal(const QString& name, const QString& signature, const QVariantList& args)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_service, m_path, QString::fromLatin1(kMockInterface), QStringLiteral("EmitSignal"));
    QVariantList wrapped;
    for (const QVariant& arg : args)
        wrapped << QVariant::fromValue(QDBusVariant(arg));
    call << m_interface << name << signature << QVariant::fromValue(wrapped);
    return QDBusConnection::sessionBus().call(call).type() == QDBusMessage::ReplyMessage;
}

QList<MockPeer::Call> MockPeer::calls(const QString& method) const
{
    QList<Call> result;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        m_service, m_path, QString::fromLatin1(kMockInterface), QStringLiteral("GetCalls"));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    // a(tsav): time stamp, method name, arguments
    const QDBusArgument array = reply.arguments().at(0).value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        quint64 timestamp = 0;
        Call entry;
        QVariantList args;
        array.beginStructure();
        array >> timestamp >> entry.method >> args;
        array.endStructure();
        for (const QVariant& arg : args)
            entry.args << unwrap(arg);
        if (method.isEmpty() || entry.method == method)
            result << entry;
    }
    array.endArray();
    return result;
}

bool MockPeer::clearCalls()
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        m_service, m_path, QString::fromLatin1(kMockInterface), QStringLiteral("ClearCalls"));
    return QDBusConnection::sessionBus().call(call).type() == QDBusMessage::ReplyMessage;
}

bool MockPeer::waitForCalls(const QString& method, int count, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (calls(method).size() < count) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

QString MockPeer::service() const
{
    return m_service;
}

QString MockPeer::path() const
{
    return m_path;
}

QString MockPeer::interface() const
{
    return m_interface;
}

QString MockPeer::output() const
{
    return QString::fromLocal8Bit(m_process->readAll());
}
