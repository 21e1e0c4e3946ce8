#pragma once

#include "common/RgbSwitchRecord.h"
#include "dbus/DBusInterface.h"
#include "platform/QuorFeatureBase.h"

#include <QStateMachine>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <utility>
#include <vector>

class SiblingHealth;
class StatusManagerProxy;

// The daemon's controller. It turns client commands and camera manager news
// from the hub into events of the photo state machine, runs the photo stream
// and the capture guard, takes photos, and switches the camera on by itself
// when the user setting and the power state say so.
class PhotoManagerCtrl : public QuorFeatureBase {
    Q_OBJECT

public:
    explicit PhotoManagerCtrl(const char* objectPath);
    ~PhotoManagerCtrl() override;

    bool Initialize(const char* serviceName, const char* objectPath, const char* cameraServiceName,
        const char* cameraObjectPath, int cameraTimeout, const char* rgbServiceName,
        const char* rgbObjectPath, int rgbTimeout, const char* photoFolder);

    // Called by the photo states.
    void EnableCamera();
    void DisableCamera();
    void StartCapturePhotoTimer();
    void StopCapturePhotoTimer();
    void CapturePhoto();

    // How long a capture may wait for the camera manager's CaptureDone.
    void setCaptureTimeout(int milliseconds);
    // Time left to the capture under way, -1 when none is.
    int captureTimeRemaining() const;
    QStateMachine& stateMachine();
    DBusInterface* dbusInterface() const;

private slots:
    void PhotoCommand(DBusInterface::PhotoCommand cmd, const QVariantList& args);
    void CameraEvent(DBusInterface::CameraEvent evt, const QVariantList& args);
    void TakePhotoForStream();
    void TakePhotoTimeout();
    void EnableCameraOnPowerOk(bool powerOk);
    void StateMachineReady();
    void StateMachineStopped();
    void StatusManagerOwnerChanged(bool owned);
    void MakeOwedSwitches();

private:
    void BuildStateMachine();
    void SetCameraActive(bool active);
    bool RestoreRgbFeature();
    bool MakeOwedCameraSwitch();
    bool isCameraEnabledByUser();
    bool isQuorPowerSupplied();

    void postToStateMachine(
        QEvent* event, QStateMachine::EventPriority priority = QStateMachine::NormalPriority);
    bool machineAccepting() const;
    void postStartQueue();
    void dropStartQueue();
    void startStateMachine();
    void startServing();
    void publishState();
    void startPhotoStream(const QVariantList& args);
    void stopPhotoStream();
    void beginCapture();
    void endCapture(int status);
    void captureRequested(const QVariantList& reply);
    void captureDone(const QVariantList& args);
    void discardFailedCapture(int status);
    void serviceAvailable(const QVariantList& args);
    QString newImagePath();

    DBusInterface* m_dbusInterface;
    QStateMachine m_stateMachine;
    QTimer m_photoStreamTimer;
    QTimer m_capturePhotoTimer;
    int m_imagesNum;
    QString m_photoPath;
    StatusManagerProxy* m_statusManagerProxy;
    SiblingHealth* m_statusHealth;
    int m_captureTimeoutMs;
    // Qt starts and stops only from the event loop, after start() or stop()
    // has returned; events accepted before the start took effect wait in
    // m_startQueue.
    bool m_stateMachineStarting;
    bool m_stateMachineStopping;
    bool m_cameraAvailable; // as the last availability report said
    QString m_lastImageStamp; // time stamp and counter of the last name issued
    int m_lastImageCounter;
    // The photo of the capture under way, from its request until its
    // PhotoTaken; empty when none is.
    QString m_capturePath;
    // The camera's video as the camera manager last confirmed it; unknown
    // until its first answer after each start of the machine.
    bool m_cameraKnown;
    bool m_cameraActive;
    // A switch of the camera decided while the camera manager was silent,
    // made once it answers again unless a later decision has taken its place.
    enum class OwedSwitch { None, Off, On } m_owedCameraSwitch = OwedSwitch::None;
    // A capture of this run could not switch the RGB feature on again.
    bool m_rgbOwed = false;
    // The wait before an owed switch whose last try timed out is tried again.
    QTimer m_owedRetry;
    int m_owedRetryMs;
    QString m_lastPhoto; // of the last capture that succeeded
    RgbSwitchRecord m_rgbRecord;
    std::vector<std::pair<QEvent*, QStateMachine::EventPriority>> m_startQueue;
};
