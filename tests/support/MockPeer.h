#pragma once

#include <QDBusConnection>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>

// A sibling service played by python-dbusmock in a process of its own, on
// the session bus. Its methods are added by the test; its call log proves
// what the daemon sent.
class MockPeer {
public:
    struct Call {
        QString method;
        QVariantList args;
    };

    // A bare object at path with the given interface, owning service.
    MockPeer(const QString& service, const QString& path, const QString& interface);
    // An object made by a dbusmock template file, with JSON parameters.
    static MockPeer fromTemplate(const QString& templateFile, const QString& service,
        const QString& path, const QString& interface, const QString& parametersJson = QString());
    ~MockPeer();

    MockPeer(MockPeer&&) = default;

    // Starts the process and waits until it owns its service name.
    bool start();
    // Ends the process and waits until the service name is released.
    bool stop();
    // Ends the process abruptly (SIGKILL), as a crashing peer would.
    bool kill();
    bool isRunning() const;

    bool addMethod(const QString& name, const QString& inSignature, const QString& outSignature,
        const QString& pythonCode);
    bool emitSignal(const QString& name, const QString& signature, const QVariantList& args);
    // Calls of the mock's main interface, in order; one method only when named.
    QList<Call> calls(const QString& method = QString()) const;
    bool clearCalls();
    // Waits until at least count calls of method were made.
    bool waitForCalls(const QString& method, int count, int timeoutMs = 10000) const;

    QString service() const;
    QString path() const;
    QString interface() const;
    QString output() const; // what the mock process printed

private:
    MockPeer(const QStringList& arguments, const QString& service, const QString& path,
        const QString& interface);
    bool waitForOwner(bool owned, int timeoutMs);

    QStringList m_arguments;
    QString m_service;
    QString m_path;
    QString m_interface;
    std::unique_ptr<QProcess> m_process;
};
