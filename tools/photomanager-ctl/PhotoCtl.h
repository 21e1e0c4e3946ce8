#pragma once

#include <QDBusPendingReply>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QTimer>

class PhotoInterfaceProxy;

// One request to the photo service and the signal that answers it. The
// answers are subscribed to on construction, before any call, so that a quick
// answer is never missed. Each command prints its result on standard output,
// or a message on standard error, and returns the tool's exit status.
class PhotoCtl : public QObject {
    Q_OBJECT

public:
    enum ExitStatus {
        Exit_Ok = 0,
        Exit_Refused = 1, // the daemon answered with a negative status
        Exit_Usage = 2,
        Exit_NotOnBus = 3, // no session bus, no daemon to start, or the call failed
        Exit_TimedOut = 4,
        Exit_Interrupted = 130,
    };

    explicit PhotoCtl(int timeoutS, QObject* parent = nullptr);
    ~PhotoCtl() override;

    int Take();
    int Stream(int intervalS);
    int Stop();
    int Enable(bool enable);
    int Status();
    int Show();
    int Monitor();

public slots:
    // SIGINT or SIGTERM: ends a wait; for a monitor that is its normal end.
    void Interrupt();

private slots:
    void OnPropertiesChanged(
        const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    enum Awaited {
        Awaited_Nothing,
        Awaited_CameraEnabled,
        Awaited_PhotoTaken,
        Awaited_PhotoStreamStopped,
        Awaited_Everything, // monitor
    };

    void OnCameraEnabled(bool enabled);
    void OnPhotoTaken(int status, const QString& imagePath);
    void OnPhotoStreamStopped(int imagesNum);
    void OnDaemonLeft();

    bool isBusConnected();
    // Waits for the reply of a call to the daemon: Exit_Ok (0) when it came,
    // else the exit status of the failure, which is printed.
    int replyOf(const char* method, QDBusPendingCall call);
    // The same for the methods that answer with a status: Exit_Ok only for 0.
    int statusOf(const char* method, const QDBusPendingReply<int>& reply);
    void expect(Awaited awaited);
    // Waits for the awaited signal once the request has succeeded; a failed
    // request's exit status is returned as it is.
    int waitForAnswer(int requestStatus);
    void finish(int exitStatus);

    PhotoInterfaceProxy* m_proxy;
    QEventLoop m_loop;
    QTimer m_timer;
    Awaited m_awaited;
    bool m_wantedEnabled;
    bool m_finished;
    int m_exitStatus;
    int m_timeoutS;
};
