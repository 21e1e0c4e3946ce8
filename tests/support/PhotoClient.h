#pragma once

#include "common/BusNames.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

// A client of the photo service on a bus connection of its own, so its calls
// and signals cross the bus even when the service lives in the test process.
// Signals are recorded as text: "CameraEnabled(true)", "PhotoTaken(0,/path)",
// "PhotoStreamStopped(2)", and the photo state's changes as
// "PropertiesChanged(Capturing=false,LastPhoto=/path)", names in order.
class PhotoClient : public QObject {
    Q_OBJECT

public:
    explicit PhotoClient(const QString& connectionName = "photo-client")
        : m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
    {
        // No signal name: every signal of the interface.
        m_connection.connect(BusNames::kPhotoService, BusNames::kPhotoPath,
            BusNames::kPhotoInterface, "", this, SLOT(onSignal(QDBusMessage)));
        m_connection.connect(BusNames::kPhotoService, BusNames::kPhotoPath,
            "org.freedesktop.DBus.Properties", "PropertiesChanged", this,
            SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
        // The bus handles a connection's messages in order: once this is
        // answered, the match rule is in place and no signal is missed.
        m_connection.interface()->isServiceRegistered(BusNames::kPhotoService);
    }
    ~PhotoClient() override
    {
        QDBusConnection::disconnectFromBus(m_connection.name());
    }
    // Serves the event loop while waiting, so a service in this thread can answer.
    QDBusMessage call(const QString& method, const QVariantList& args = {},
        const QString& interface = BusNames::kPhotoInterface)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            BusNames::kPhotoService, BusNames::kPhotoPath, interface, method);
        message.setArguments(args);
        return m_connection.call(message, QDBus::BlockWithGui, 30000);
    }
    // The reply's first value as int; -1000 for an error reply.
    int callStatus(const QString& method, const QVariantList& args = {})
    {
        const QDBusMessage reply = call(method, args);
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toInt()
                                                          : -1000;
    }
    // The photo state's properties from GetAll, each as text.
    QVariantMap properties()
    {
        const QDBusMessage reply
            = call("GetAll", {BusNames::kPhotoStateInterface}, "org.freedesktop.DBus.Properties");
        QVariantMap values = qdbus_cast<QVariantMap>(reply.arguments().value(0));
        for (QVariant& value : values)
            value = value.toString();
        return values;
    }
    // Waits for a signal starting with the prefix, returning as soon as it
    // is there, before any later message is handled.
    bool waitForSignal(const QString& prefix, int timeoutMs = 10000) const
    {
        const QRegularExpression start('^' + QRegularExpression::escape(prefix));
        const QDeadlineTimer deadline(timeoutMs);
        QSignalSpy spy(this, &PhotoClient::signalReceived);
        while (received.filter(start).isEmpty()) {
            if (deadline.hasExpired() || !spy.wait(int(deadline.remainingTime())))
                return false;
        }
        return true;
    }

    QStringList received;

signals:
    void signalReceived();

private slots:
    void onSignal(const QDBusMessage& message)
    {
        received << message.member() + '(' + QVariant(message.arguments()).toStringList().join(',')
                + ')';
        emit signalReceived();
    }
    void onPropertiesChanged(const QString&, const QVariantMap& changed, const QStringList&)
    {
        QStringList values;
        for (auto it = changed.cbegin(); it != changed.cend(); ++it)
            values << it.key() + '=' + it.value().toString();
        received << "PropertiesChanged(" + values.join(',') + ')';
        emit signalReceived();
    }

private:
    QDBusConnection m_connection;
};
