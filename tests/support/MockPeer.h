#pragma once

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QProcess>
#include <QTest>

#include <csignal>

// A sibling service played by python-dbusmock in a process of its own on the
// session bus. The test adds its methods; its call log proves what was sent.
class MockPeer {
public:
    const QString service, path, interface;

    // A bare object, or (with a template file) one made by a dbusmock template.
    MockPeer(const QString& service_, const QString& path_, const QString& interface_,
        const QString& templateFile = QString(), const QString& parametersJson = QString())
        : service(service_)
        , path(path_)
        , interface(interface_)
        , m_arguments({"-m", "dbusmock", "--session"})
    {
        m_arguments << (templateFile.isEmpty() ? QStringList{service, path, interface}
                                               : QStringList{"-t", templateFile});
        if (!parametersJson.isEmpty())
            m_arguments << "-p" << parametersJson;
    }
    ~MockPeer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Starts the peer and waits until it owns its name.
    bool start()
    {
        // A peer that has just crashed may have left the bus before it is reaped.
        m_process.waitForFinished(10000);
        // Debian's dbusmock module is installed for the system interpreter only.
        m_process.start("/usr/bin/python3", m_arguments);
        return m_process.waitForStarted(10000) && waitForOwner(true);
    }
    // Stops the peer and waits until its name is released.
    bool stop()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
        return waitForOwner(false);
    }
    bool addMethod(const QString& name, const QString& in, const QString& out, const QString& code)
    {
        return callMock("AddMethod", {interface, name, in, out, code});
    }
    bool emitSignal(const QString& name, const QString& signature, const QVariantList& args)
    {
        QVariantList wrapped;
        for (const QVariant& arg : args)
            wrapped << QVariant::fromValue(QDBusVariant(arg));
        return callMock("EmitSignal", {interface, name, signature, wrapped});
    }
    // The calls received, as "Method(arg,arg)", oldest first.
    QStringList callLog(const QString& method = QString()) const
    {
        QStringList result;
        QVariantList reply;
        if (!callMock("GetCalls", {}, &reply) || reply.isEmpty())
            return result;
        const QDBusArgument array = reply.at(0).value<QDBusArgument>(); // a(tsav)
        array.beginArray();
        while (!array.atEnd()) {
            quint64 timestamp = 0;
            QString name;
            QVariantList args;
            array.beginStructure();
            array >> timestamp >> name >> args;
            array.endStructure();
            if (method.isEmpty() || name == method)
                result << name + '(' + QVariant(args).toStringList().join(',') + ')';
        }
        array.endArray();
        return result;
    }
    // Stops (SIGSTOP) or resumes (SIGCONT) the peer: it keeps its name but
    // answers nothing meanwhile.
    bool hang(bool stopped)
    {
        return ::kill(pid_t(m_process.processId()), stopped ? SIGSTOP : SIGCONT) == 0;
    }
    bool clearCalls()
    {
        return callMock("ClearCalls", {});
    }

private:
    bool waitForOwner(bool owned)
    {
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        const auto done = [&] { return bus->isServiceRegistered(service) == owned; };
        return QTest::qWaitFor(
                   [&] { return done() || (owned && m_process.state() == QProcess::NotRunning); },
                   20000)
            && done();
    }
    bool callMock(
        const QString& method, const QVariantList& args, QVariantList* reply = nullptr) const
    {
        QDBusMessage call
            = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", method);
        call.setArguments(args);
        const QDBusMessage answer = QDBusConnection::sessionBus().call(call);
        if (reply)
            *reply = answer.arguments();
        return answer.type() == QDBusMessage::ReplyMessage;
    }

    QStringList m_arguments;
    QProcess m_process;
};
