#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantList>

// A client of the photo service on a bus connection of its own, so that its
// calls and the signals it receives really cross the bus even when the
// service lives in the test process. Signals are recorded as text, such as
// "CameraEnabled(true)", "PhotoTaken(0,/path)" or "PhotoStreamStopped(2)".
class PhotoClient : public QObject {
    Q_OBJECT

public:
    explicit PhotoClient(const QString& connectionName = QStringLiteral("photo-client"));
    ~PhotoClient() override;

    // Calls a method of the photo interface and serves the event loop while
    // waiting, so a service in this very thread can answer.
    QDBusMessage call(const QString& method, const QVariantList& args = QVariantList());
    // The reply's first value as int (or bool as 0/1); -1000 for an error reply.
    int callStatus(const QString& method, const QVariantList& args = QVariantList());

    QStringList signalsReceived() const;
    void clearSignals();
    // Waits until at least n signals in all have been received.
    bool waitForSignals(int n, int timeoutMs = 10000) const;
    // Waits until a signal starting with the prefix has been received.
    bool waitForSignal(const QString& prefix, int timeoutMs = 10000) const;

private slots:
    void onCameraEnabled(bool enabled);
    void onPhotoTaken(int status, const QString& path);
    void onPhotoStreamStopped(int count);

private:
    QDBusConnection m_connection;
    QStringList m_signals;
};
