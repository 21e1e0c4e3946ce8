#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

// A client of the photo service on a bus connection of its own, so its calls
// and signals cross the bus even when the service lives in the test process.
// Signals are recorded as text: "CameraEnabled(true)", "PhotoTaken(0,/path)",
// "PhotoStreamStopped(2)", and the photo state's changes as
// "PropertiesChanged(Capturing=false,LastPhoto=/path)", names in order.
class PhotoClient : public QObject {
    Q_OBJECT

public:
    explicit PhotoClient(const QString& connectionName = "photo-client");
    ~PhotoClient() override;

    // Serves the event loop while waiting, so a service in this thread can answer.
    QDBusMessage call(const QString& method, const QVariantList& args = {});
    // The reply's first value as int; -1000 for an error reply.
    int callStatus(const QString& method, const QVariantList& args = {});
    // The photo state's properties from GetAll, each as text.
    QVariantMap properties();
    // Waits for a signal starting with the prefix.
    bool waitForSignal(const QString& prefix, int timeoutMs = 10000) const;

    QStringList received;

private slots:
    void onCameraEnabled(bool enabled);
    void onPhotoTaken(int status, const QString& path);
    void onPhotoStreamStopped(int count);
    void onPropertiesChanged(
        const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    QDBusConnection m_connection;
};
