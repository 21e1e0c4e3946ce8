#pragma once

#include <QProcess>
#include <QVariantList>

#include <memory>

// A sibling service played by python-dbusmock in a process of its own on the
// session bus. The test adds its methods; its call log proves what was sent.
class MockPeer {
public:
    struct Call {
        QString method;
        QVariantList args;
    };

    // A bare object, or (with a template file) one made by a dbusmock template.
    MockPeer(const QString& service, const QString& path, const QString& interface,
        const QString& templateFile = QString(), const QString& parametersJson = QString());
    ~MockPeer();

    bool start(); // and wait until the service name is owned
    bool stop(); // and wait until it is released
    bool kill(); // SIGKILL, as a crashing peer
    bool isRunning() const;

    bool addMethod(const QString& name, const QString& in, const QString& out, const QString& code);
    bool emitSignal(const QString& name, const QString& signature, const QVariantList& args);
    QList<Call> calls(const QString& method = QString()) const;
    // The calls as text, "Method(arg,arg)", in the order received.
    QStringList callLog(const QString& method = QString()) const;
    bool clearCalls();

    const QString service, path, interface;

private:
    bool waitForOwner(bool owned);
    bool callMock(
        const QString& method, const QVariantList& args, QVariantList* reply = nullptr) const;

    QStringList m_arguments;
    std::unique_ptr<QProcess> m_process;
};
