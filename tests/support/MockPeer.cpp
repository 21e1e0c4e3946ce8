#include "MockPeer.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QTest>

#include <signal.h>

MockPeer::MockPeer(const QString& service_, const QString& path_, const QString& interface_,
    const QString& templateFile, const QString& parametersJson)
    : service(service_)
    , path(path_)
    , interface(interface_)
    , m_process(std::make_unique<QProcess>())
{
    m_arguments = QStringList{"-m", "dbusmock", "--session"};
    if (templateFile.isEmpty())
        m_arguments << service << path << interface;
    else
        m_arguments << "-t" << templateFile;
    if (!parametersJson.isEmpty())
        m_arguments << "-p" << parametersJson;
}

MockPeer::~MockPeer()
{
    m_process->kill();
    m_process->waitForFinished(5000);
}

bool MockPeer::start()
{
    // A peer that has just crashed may have left the bus before it is reaped.
    m_process->waitForFinished(10000);
    // Debian's dbusmock module is installed for the system interpreter only.
    m_process->start("/usr/bin/python3", m_arguments);
    return m_process->waitForStarted(10000) && waitForOwner(true);
}

bool MockPeer::stop()
{
    m_process->terminate();
    m_process->waitForFinished(10000);
    return waitForOwner(false);
}

bool MockPeer::kill()
{
    ::kill(static_cast<pid_t>(m_process->processId()), SIGKILL);
    m_process->waitForFinished(10000);
    return waitForOwner(false);
}

bool MockPeer::isRunning() const
{
    return m_process->state() == QProcess::Running;
}

bool MockPeer::waitForOwner(bool owned)
{
    const auto done = [&] {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(service).value()
            == owned;
    };
    return QTest::qWaitFor([&] { return done() || (owned && !isRunning()); }, 20000) && done();
}

bool MockPeer::callMock(const QString& method, const QVariantList& args, QVariantList* reply) const
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", method);
    call.setArguments(args);
    const QDBusMessage answer = QDBusConnection::sessionBus().call(call);
    if (reply)
        *reply = answer.arguments();
    return answer.type() == QDBusMessage::ReplyMessage;
}

bool MockPeer::addMethod(
    const QString& name, const QString& in, const QString& out, const QString& code)
{
    return callMock("AddMethod", {interface, name, in, out, code});
}

bool MockPeer::emitSignal(const QString& name, const QString& signature, const QVariantList& args)
{
    QVariantList wrapped;
    for (const QVariant& arg : args)
        wrapped << QVariant::fromValue(QDBusVariant(arg));
    return callMock("EmitSignal", {interface, name, signature, wrapped});
}

QList<MockPeer::Call> MockPeer::calls(const QString& method) const
{
    QList<Call> result;
    QVariantList reply;
    if (!callMock("GetCalls", {}, &reply) || reply.isEmpty())
        return result;
    const QDBusArgument array = reply.at(0).value<QDBusArgument>(); // a(tsav)
    array.beginArray();
    while (!array.atEnd()) {
        quint64 timestamp = 0;
        Call call;
        QVariantList args;
        array.beginStructure();
        array >> timestamp >> call.method >> args;
        array.endStructure();
        for (const QVariant& arg : args)
            call.args << (arg.userType() == qMetaTypeId<QDBusVariant>()
                    ? arg.value<QDBusVariant>().variant()
                    : arg);
        if (method.isEmpty() || call.method == method)
            result << call;
    }
    array.endArray();
    return result;
}

bool MockPeer::clearCalls()
{
    return callMock("ClearCalls", {});
}

QStringList MockPeer::callLog(const QString& method) const
{
    QStringList result;
    for (const Call& call : calls(method)) {
        QStringList args;
        for (const QVariant& arg : call.args)
            args << arg.toString();
        result << call.method + '(' + args.join(',') + ')';
    }
    return result;
}
