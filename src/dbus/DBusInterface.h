#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

class CameraProxy;
class QDBusConnection;
class FolderManager;
class PhotoManagerAdaptor;
class PhotoStateAdaptor;
class QDBusServiceWatcher;
class QTimer;
class RGBManagerProxy;
class SiblingHealth;

// The daemon's meeting point with the bus. It carries the exported photo
// interface (through PhotoManagerAdaptor), turns client calls into
// CommandReceived and camera manager news into EventReceived for the
// controller, publishes the controller's events as bus signals, and holds the
// clients of the camera manager and the RGB feature manager.
class DBusInterface : public QObject {
    Q_OBJECT

public:
    enum PhotoCommand : int {
        PhotoCommand_EnableCamera = 0,
        PhotoCommand_IsCameraEnabled = 1,
        PhotoCommand_TakePhoto = 2,
        PhotoCommand_TakePhotoStream = 3,
        PhotoCommand_StopPhotoStream = 4,
    };
    Q_ENUM(PhotoCommand)

    enum PhotoEvent : int {
        PhotoEvent_CameraEnabled = 0,
        PhotoEvent_PhotoTaken = 1,
        PhotoEvent_PhotoStreamStopped = 2,
    };
    Q_ENUM(PhotoEvent)

    enum CameraEvent : int {
        CameraEvent_CaptureDone = 0,
        CameraEvent_ServiceAvailable = 1,
    };
    Q_ENUM(CameraEvent)

    // Status values of the photo interface's methods and of PhotoTaken, as
    // its interface file documents them.
    enum PhotoStatus : int {
        PhotoStatus_Ok = 0,
        PhotoStatus_InvalidArgument = -22,
        PhotoStatus_CameraBusy = -50,
        PhotoStatus_CameraError = -51,
        PhotoStatus_FolderNotWithinLimit = -59,
    };

    // Selects the camera manager method of CameraCallSynch; any other value
    // calls CaptureImage.
    enum CameraCommand : int {
        CameraCommand_CaptureImage = 0,
        CameraCommand_CaptureSingle = 1,
        CameraCommand_VideoSetActive = 2,
        CameraCommand_VideoGetActive = 3,
    };

    // Selects the RGB feature manager method of RGBManagerCallSynch; any
    // other value calls IsDisabled.
    enum RGBManagerCommand : int {
        RGBManagerCommand_IsDisabled = 0,
        RGBManagerCommand_Disable = 1,
    };

    explicit DBusInterface(QObject* parent = nullptr);
    ~DBusInterface() override;

    bool RegisterDBusService(const char* serviceName, const char* objectPath);
    void SetPhotoFolder(const char* path, int maxFiles);
    // Trims the photo folder to its limit; true when it is within it (or
    // when no folder has been handed over yet).
    bool KeepPhotoFolderWithinLimit();
    // Removes the file a failed capture left at its path; true when one was there.
    bool RemoveFailedCapture(const QString& photoPath);

    // What the controller knows, told to the hub after every change: the hub
    // answers requests truthfully from it inside the bus call, and publishes
    // it as the properties of the photo state interface.
    struct PhotoState {
        bool cameraManagerPresent = false; // the state machine accepts requests
        bool cameraEnabled = false; // as the camera manager last confirmed
        bool capturing = false;
        int streamInterval = 0; // seconds; 0 when no stream runs
        int streamPhotos = 0;
        QString lastPhoto; // of the last PhotoTaken with status 0
    };
    // The properties of the photo state interface, in the order of the
    // table below; a property's change flag is the bit of its place.
    enum StateProperty : unsigned {
        State_CameraManagerPresent,
        State_CameraEnabled,
        State_Capturing,
        State_StreamInterval,
        State_StreamPhotos,
        State_LastPhoto,
    };
    struct StatePropertyRow {
        const char* name; // on the bus
        QVariant (*value)(const PhotoState& state);
        unsigned changedBy; // bits of the photo events that may change it
    };
    static const StatePropertyRow kStateProperties[];
    static const unsigned kStatePropertyCount;
    // The changes are held and go out together in one PropertiesChanged at
    // the end of the event loop's turn. Held changes go out at once when a
    // held property changes again, and before a photo interface signal of an
    // event that changes a held property, so each change is sent, after the
    // signal of its own event and before that of a later one.
    void SetPhotoState(const PhotoState& state);
    const PhotoState& photoState() const;
    // Sends the held changes now; Get and GetAll call it before they answer.
    void SendHeldPhotoState();

    bool InitCameraProxy(const char* service, const char* path, int timeout);
    // Whether the camera manager answers; null before InitCameraProxy.
    SiblingHealth* cameraManagerHealth() const;
    // How often the camera manager is looked for until it is found (1000 ms
    // unless a test shortens it); takes effect at InitCameraProxy.
    void SetCameraCheckInterval(int milliseconds);
    bool InitRGBManagerProxy(const char* service, const char* path, int timeout);
    // Whether the RGB feature manager answers; null before InitRGBManagerProxy.
    SiblingHealth* rgbManagerHealth() const;

    // Blocking calls of the sibling services. The result lists are empty
    // when the call failed or was not made, except for VideoGetActive,
    // which always gives [status, active].
    QVariantList CameraCallSynch(DBusInterface::CameraCommand cmd, const QVariantList& args);
    QVariantList RGBManagerCallSynch(
        DBusInterface::RGBManagerCommand cmd, const QVariantList& args);

signals:
    void CameraEnabled(bool Enabled);
    void PhotoStreamStopped(int ImagesNum);
    void PhotoTaken(int Status, const QString& ImagePath);
    void CommandReceived(DBusInterface::PhotoCommand cmd, const QVariantList& args);
    void EventReceived(DBusInterface::CameraEvent evt, const QVariantList& args);

public slots:
    int EnableCamera(bool Enable);
    bool IsEnabledCamera();
    int StopPhotoStream();
    int TakePhoto();
    int TakePhotoStream(int Interval_s);
    void EmitEvent(DBusInterface::PhotoEvent evt, const QVariantList& args);
    void CaptureDone(int Status, const QString& ImagePath);
    void CameraDBusServiceRegistered(const QString& serviceName);
    void CameraDBusServiceUnregistered(const QString& serviceName);
    // Looks for the camera manager once; repeated by a timer until found.
    void CheckForCameraServiceAvailable();

protected:
    void customEvent(QEvent* event) override;

private:
    static bool waitForNameAcquired(const QDBusConnection& bus, const QString& name);
    static const int kNameAcquiredTimeoutMs = 5000;
    QVariantList callCaptureMethod(bool single, const QVariantList& args);
    int refusal(const char* method);

    PhotoManagerAdaptor* m_adaptor;
    PhotoStateAdaptor* m_stateAdaptor;
    CameraProxy* m_cameraProxy;
    QDBusServiceWatcher* m_cameraServiceWatcher;
    SiblingHealth* m_cameraHealth;
    RGBManagerProxy* m_rgbManagerProxy;
    SiblingHealth* m_rgbHealth;
    FolderManager* m_folderManager;
    QTimer* m_cameraCheckTimer;
    QString m_cameraObjectPath;
    QString m_cameraServiceName;
    int m_cameraCheckIntervalMs = 1000;
    QString m_objectPath; // once registered on the bus
    PhotoState m_state;
    unsigned m_heldChanges = 0; // properties changed since the last PropertiesChanged
    bool m_sendPosted = false;
    int m_staleSends = 0; // posted sends overtaken by one made at once
};
