#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QTimer>

class PhotoInterfaceProxy;
class QDBusError;

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
        Exit_NotOnBus = 3, // no session bus, no daemon, or the call failed
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

    bool isDaemonOnBus();
    int callFailed(const char* method, const QDBusError& error);
    int checkedStatus(const char* method, int status);
    void expect(Awaited awaited);
    int waitForAnswer();
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
