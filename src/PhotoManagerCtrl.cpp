#include "PhotoManagerCtrl.h"

#include "StatusManagerProxy.h"
#include "common/BusNames.h"
#include "common/Log.h"
#include "dbus/SiblingHealth.h"
#include "photosm/CapturePhotoDoneEvent.h"
#include "photosm/CapturePhotoEvent.h"
#include "photosm/CaptureState.h"
#include "photosm/DisableCameraEvent.h"
#include "photosm/EnableCameraEvent.h"
#include "photosm/OffState.h"
#include "photosm/OnState.h"
#include "photosm/PhotoSMTransCapturePhoto.h"
#include "photosm/PhotoSMTransCapturePhotoDone.h"
#include "photosm/PhotoSMTransDisableCamera.h"
#include "photosm/PhotoSMTransEnableCamera.h"
#include "platform/Configuration.h"

#include <QDBusConnection>
#include <QDBusReply>
#include <QDateTime>
#include <QFile>
#include <QHistoryState>

#include <cerrno>
#include <limits>

#include <sys/stat.h>
#include <time.h>

namespace {
// The local time as "yyyyMMddhhmmss" formats it; a photo pays for this, so
// without QDateTime's time zone machinery.
QString localTimeStamp()
{
    const time_t now = ::time(nullptr);
    struct tm local;
    char text[32];
    if (!::localtime_r(&now, &local) || ::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local) == 0)
        return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
    return QString::fromLatin1(text);
}

const int kMaxPhotos = 100;
// An owed switch that timed out again waits this long before its next try,
// twice as long after each further one, up to a minute.
const int kOwedRetryMs = SiblingHealth::kBackOffMs;
const int kMaxOwedRetryMs = 60000;
const int kCaptureTimeoutMs = 120000;
// The stream timer holds its interval as signed 32-bit milliseconds.
const int kMaxStreamIntervalS = std::numeric_limits<int>::max() / 1000;
} // namespace

PhotoManagerCtrl::PhotoManagerCtrl(const char* objectPath)
    : QuorFeatureBase(objectPath)
    , m_dbusInterface(new DBusInterface(this))
    , m_imagesNum(0)
    , m_photoPath(QStringLiteral("/tmp"))
    , m_statusManagerProxy(nullptr)
    , m_statusHealth(nullptr)
    , m_captureTimeoutMs(kCaptureTimeoutMs)
    , m_stateMachineStarting(false)
    , m_stateMachineStopping(false)
    , m_cameraAvailable(false)
    , m_lastImageCounter(0)
    , m_cameraKnown(false)
    , m_cameraActive(false)
    , m_owedRetryMs(kOwedRetryMs)
{
    m_owedRetry.setSingleShot(true);
    connect(&m_owedRetry, &QTimer::timeout, this, &PhotoManagerCtrl::MakeOwedSwitches);
    connect(&m_photoStreamTimer, &QTimer::timeout, this, &PhotoManagerCtrl::TakePhotoForStream);
    connect(&m_capturePhotoTimer, &QTimer::timeout, this, &PhotoManagerCtrl::TakePhotoTimeout);
    connect(&m_stateMachine, &QStateMachine::started, this, &PhotoManagerCtrl::StateMachineReady);
    connect(&m_stateMachine, &QStateMachine::stopped, this, &PhotoManagerCtrl::StateMachineStopped);
    BuildStateMachine();
}

PhotoManagerCtrl::~PhotoManagerCtrl()
{
    // Nothing the machine reports from here on may reach a controller in teardown.
    m_stateMachine.disconnect(this);
    if (m_stateMachine.isRunning())
        m_stateMachine.stop();
    delete m_statusManagerProxy;
    dropStartQueue();
}

bool PhotoManagerCtrl::Initialize(const char* serviceName, const char* objectPath,
    const char* cameraServiceName, const char* cameraObjectPath, int cameraTimeout,
    const char* rgbServiceName, const char* rgbObjectPath, int rgbTimeout, const char* photoFolder)
{
    bool hubReady = m_dbusInterface->RegisterDBusService(serviceName, objectPath)
        && m_dbusInterface->InitCameraProxy(cameraServiceName, cameraObjectPath, cameraTimeout)
        && m_dbusInterface->InitRGBManagerProxy(rgbServiceName, rgbObjectPath, rgbTimeout);
    if (hubReady) {
        m_photoPath = QString::fromLocal8Bit(photoFolder);
        m_dbusInterface->SetPhotoFolder(photoFolder, kMaxPhotos);
        // Both connections are needed: without either the daemon would answer
        // clients and never act.
        hubReady = connect(m_dbusInterface, &DBusInterface::CommandReceived, this,
                       &PhotoManagerCtrl::PhotoCommand)
            && connect(m_dbusInterface, &DBusInterface::EventReceived, this,
                &PhotoManagerCtrl::CameraEvent);
    }

    m_statusManagerProxy = new StatusManagerProxy(QString::fromLatin1(BusNames::kStatusService),
        QString::fromLatin1(BusNames::kStatusPath), QDBusConnection::sessionBus(), nullptr);
    // A hung status manager costs what a hung camera manager costs.
    m_statusManagerProxy->setTimeout(cameraTimeout);
    m_statusHealth = new SiblingHealth(QString::fromLatin1(BusNames::kStatusService), this);
    const QMetaObject::Connection powerOk = connect(m_statusManagerProxy,
        &StatusManagerProxy::PowerOkChanged, this, &PhotoManagerCtrl::EnableCameraOnPowerOk);
    if (!powerOk) {
        PM_LOG(1, "[%s:%d] %s: Can't connect to Status Manager proxy's signals");
        return false;
    }
    connect(m_statusManagerProxy, &StatusManagerProxy::PowerOkChanged, m_statusHealth,
        &SiblingHealth::noteLife);
    connect(m_statusHealth, &SiblingHealth::ownerChanged, this,
        &PhotoManagerCtrl::StatusManagerOwnerChanged);
    if (hubReady)
        startServing();
    return hubReady;
}

// The name is already owned: a request that activation delivers right away
// must find the state machine starting, so the camera manager is looked for
// now rather than at the first tick of the repeated check.
void PhotoManagerCtrl::startServing()
{
    if (!m_rgbRecord.enabled())
        PM_LOG(4,
            "[%s:%d] %s: XDG_RUNTIME_DIR not set: the RGB switch of a capture is not "
            "recorded");
    connect(m_dbusInterface->rgbManagerHealth(), &SiblingHealth::available, this,
        &PhotoManagerCtrl::MakeOwedSwitches);
    connect(m_dbusInterface->cameraManagerHealth(), &SiblingHealth::available, this,
        &PhotoManagerCtrl::MakeOwedSwitches);
    RestoreRgbFeature();
    m_dbusInterface->CheckForCameraServiceAvailable();
}

// A sibling shows life, or the wait after a try that timed out has passed:
// the switches still owed to the siblings that answer are made. One that
// answers pings but lets switches time out would otherwise be tried at each
// answer, every try holding the daemon for a time-out.
void PhotoManagerCtrl::MakeOwedSwitches()
{
    if (m_owedRetry.isActive())
        return;
    const bool rgbTimedOut = RestoreRgbFeature();
    const bool timedOut = MakeOwedCameraSwitch() || rgbTimedOut;
    if (timedOut)
        m_owedRetry.start(m_owedRetryMs);
    const bool owed = m_rgbOwed || m_owedCameraSwitch != OwedSwitch::None;
    m_owedRetryMs = !owed ? kOwedRetryMs
        : timedOut        ? qMin(2 * m_owedRetryMs, kMaxOwedRetryMs)
                          : m_owedRetryMs;
}

// A capture of this run that could not switch the RGB feature on again, or a
// record left behind by an earlier run that ended while a capture had it off:
// switch it on while the RGB manager answers, unless a capture is under way
// (it switches the feature on itself). True when the try timed out.
bool PhotoManagerCtrl::RestoreRgbFeature()
{
    const SiblingHealth* rgb = m_dbusInterface->rgbManagerHealth();
    if ((!m_rgbOwed && !m_rgbRecord.present()) || !m_capturePath.isEmpty() || !rgb->answering())
        return false;
    const QVariantList reply = m_dbusInterface->RGBManagerCallSynch(
        DBusInterface::RGBManagerCommand_Disable, QVariantList{false});
    if (reply.isEmpty() || reply.at(0).toInt() != 0)
        return !rgb->answering();
    m_rgbRecord.remove();
    if (m_rgbOwed)
        PM_LOG(4, "[%s:%d] %s: Owed switch made: RGB feature on again after a capture");
    else
        PM_LOG(4,
            "[%s:%d] %s: RGB feature switched on again: a capture had it off when the daemon "
            "last ended");
    m_rgbOwed = false;
    return false;
}

// The switch the camera manager could not be asked for while it was silent,
// unless a capture is under way (its end switches the camera as the machine's
// state wants it). True when the try timed out.
bool PhotoManagerCtrl::MakeOwedCameraSwitch()
{
    const SiblingHealth* camera = m_dbusInterface->cameraManagerHealth();
    if (m_owedCameraSwitch == OwedSwitch::None || !machineAccepting() || !m_capturePath.isEmpty()
        || !camera->answering())
        return false;
    const bool active = m_owedCameraSwitch == OwedSwitch::On;
    PM_LOG(4, "[%s:%d] %s: Owed switch made: VideoSetActive(%s)", active ? "true" : "false");
    SetCameraActive(active);
    return !camera->answering();
}

// A status manager that comes after the camera manager may never signal a
// change of power: its arrival is taken as one.
void PhotoManagerCtrl::StatusManagerOwnerChanged(bool owned)
{
    if (owned && machineAccepting())
        EnableCameraOnPowerOk(isQuorPowerSupplied());
}

void PhotoManagerCtrl::setCaptureTimeout(int milliseconds)
{
    m_captureTimeoutMs = milliseconds;
}

int PhotoManagerCtrl::captureTimeRemaining() const
{
    return m_capturePhotoTimer.remainingTime();
}

QStateMachine& PhotoManagerCtrl::stateMachine()
{
    return m_stateMachine;
}

DBusInterface* PhotoManagerCtrl::dbusInterface() const
{
    return m_dbusInterface;
}

void PhotoManagerCtrl::BuildStateMachine()
{
    auto* idle = new QState();
    auto* off = new OffState(this, idle);
    auto* on = new OnState(this, idle);
    auto* capture = new CaptureState(this, nullptr);
    // Shallow history: a finished capture returns to the state it interrupted.
    auto* idleHistory = new QHistoryState(idle);

    m_stateMachine.addState(idle);
    m_stateMachine.addState(capture);
    idle->setInitialState(off);
    m_stateMachine.setInitialState(idle);

    off->addTransition(new PhotoSMTransEnableCamera(on));
    on->addTransition(new PhotoSMTransDisableCamera(off));
    idle->addTransition(new PhotoSMTransCapturePhoto(capture));
    capture->addTransition(new PhotoSMTransCapturePhotoDone(idleHistory));
}

// The machine takes ownership of posted events, but drops (and leaks) those
// posted while it does not run; those are deleted here instead. Its start
// takes effect from the event loop and discards what was posted before:
// requests accepted meanwhile wait here until it has started.
void PhotoManagerCtrl::postToStateMachine(QEvent* event, QStateMachine::EventPriority priority)
{
    if (!machineAccepting())
        delete event;
    else if (!m_stateMachine.isRunning())
        m_startQueue.push_back({event, priority});
    else
        m_stateMachine.postEvent(event, priority);
}

void PhotoManagerCtrl::postStartQueue()
{
    std::vector<std::pair<QEvent*, QStateMachine::EventPriority>> queue;
    queue.swap(m_startQueue);
    for (const auto& held : queue)
        postToStateMachine(held.first, held.second);
}

void PhotoManagerCtrl::dropStartQueue()
{
    for (const auto& held : m_startQueue)
        delete held.first;
    m_startQueue.clear();
}

bool PhotoManagerCtrl::machineAccepting() const
{
    return (m_stateMachine.isRunning() || m_stateMachineStarting) && !m_stateMachineStopping;
}

// Every start enters OffState, which asks the camera manager anew.
void PhotoManagerCtrl::startStateMachine()
{
    m_cameraKnown = false;
    m_owedCameraSwitch = OwedSwitch::None;
    m_stateMachineStarting = true;
    m_stateMachine.start();
}

// The hub answers requests from what it is told here and publishes it; it is
// told after the photo interface's signal of the same event, if any.
void PhotoManagerCtrl::publishState()
{
    DBusInterface::PhotoState state;
    state.cameraManagerPresent = machineAccepting();
    state.cameraEnabled = m_cameraKnown && m_cameraActive;
    state.capturing = !m_capturePath.isEmpty();
    state.streamInterval = m_photoStreamTimer.isActive() ? m_photoStreamTimer.interval() / 1000 : 0;
    state.streamPhotos = m_imagesNum;
    state.lastPhoto = m_lastPhoto;
    m_dbusInterface->SetPhotoState(state);
}

void PhotoManagerCtrl::PhotoCommand(DBusInterface::PhotoCommand cmd, const QVariantList& args)
{
    PM_LOG(9, "[%s:%d] %s: Camera Command: %d", static_cast<int>(cmd));
    switch (cmd) {
    case DBusInterface::PhotoCommand_EnableCamera:
        if (args.size() == 1) {
            if (args.at(0).toBool())
                postToStateMachine(new EnableCameraEvent());
            else
                postToStateMachine(new DisableCameraEvent());
        }
        break;
    case DBusInterface::PhotoCommand_TakePhoto:
        // The hub has refused it when the machine is stopped or busy.
        if (machineAccepting() && m_capturePath.isEmpty())
            beginCapture();
        break;
    case DBusInterface::PhotoCommand_TakePhotoStream:
        startPhotoStream(args);
        break;
    case DBusInterface::PhotoCommand_StopPhotoStream:
        stopPhotoStream();
        break;
    case DBusInterface::PhotoCommand_IsCameraEnabled:
        break;
    }
}

void PhotoManagerCtrl::startPhotoStream(const QVariantList& args)
{
    if (m_photoStreamTimer.isActive()) {
        PM_LOG(2, "[%s:%d] %s: Photo stream already active at %ds, stop it first!",
            m_photoStreamTimer.interval() / 1000);
        return;
    }
    if (args.size() != 1)
        return;
    const int intervalS = args.at(0).toInt();
    if (intervalS < 1)
        return;
    if (intervalS > kMaxStreamIntervalS) {
        PM_LOG(2, "[%s:%d] %s: Photo stream interval %ds out of range, at most %ds", intervalS,
            kMaxStreamIntervalS);
        return;
    }
    PM_LOG(9, "[%s:%d] %s: Start photo stream at %ds", intervalS);
    m_photoStreamTimer.start(intervalS * 1000);
    publishState();
}

void PhotoManagerCtrl::stopPhotoStream()
{
    PM_LOG(9, "[%s:%d] %s: Stop photo stream");
    m_photoStreamTimer.stop();
    m_dbusInterface->EmitEvent(
        DBusInterface::PhotoEvent_PhotoStreamStopped, QVariantList{m_imagesNum});
    m_imagesNum = 0;
    publishState();
}

void PhotoManagerCtrl::CameraEvent(DBusInterface::CameraEvent evt, const QVariantList& args)
{
    PM_LOG(9, "[%s:%d] %s: Camera Event: %d", static_cast<int>(evt));
    switch (evt) {
    case DBusInterface::CameraEvent_CaptureDone:
        captureDone(args);
        break;
    case DBusInterface::CameraEvent_ServiceAvailable:
        serviceAvailable(args);
        break;
    }
}

// The path is chosen when the capture is accepted, so that every accepted
// capture has its one PhotoTaken, whenever and however it ends.
void PhotoManagerCtrl::beginCapture()
{
    m_capturePath = newImagePath();
    publishState();
    postToStateMachine(new CapturePhotoEvent());
}

// Publishes the outcome of the capture under way and ends it.
void PhotoManagerCtrl::endCapture(int status)
{
    const QString path = m_capturePath;
    m_capturePath.clear();
    if (status == DBusInterface::PhotoStatus_Ok)
        m_lastPhoto = path;
    if (status == DBusInterface::PhotoStatus_Ok && m_photoStreamTimer.isActive())
        ++m_imagesNum;
    m_dbusInterface->EmitEvent(DBusInterface::PhotoEvent_PhotoTaken, QVariantList{status, path});
    publishState();
    postToStateMachine(new CapturePhotoDoneEvent());
}

void PhotoManagerCtrl::captureDone(const QVariantList& args)
{
    if (args.size() != 2)
        return;
    const int status = args.at(0).toInt();
    const QString path = args.at(1).toString();
    // Another client's photo, a forged report, or one that comes after its
    // capture has ended: none of them is this daemon's to relay.
    if (m_capturePath.isEmpty() || path != m_capturePath) {
        const QByteArray ignored = path.toLocal8Bit();
        PM_LOG_PHOTO(4, ignored.constData(), status,
            "[%s:%d] %s: CaptureDone(%d) for %s ignored: not the capture under way", status,
            ignored.constData());
        return;
    }
    if (status != DBusInterface::PhotoStatus_Ok)
        PM_LOG_PHOTO(2, path.toLocal8Bit().constData(), status,
            "[%s:%d] %s: Capture of %s failed in the camera manager: %d",
            path.toLocal8Bit().constData(), status);
    if (status < 0)
        discardFailedCapture(status);
    // Its codes are negative; anything else is no code of its.
    endCapture(status > 0 ? int(DBusInterface::PhotoStatus_CameraError) : status);
}

void PhotoManagerCtrl::serviceAvailable(const QVariantList& args)
{
    if (args.size() != 1)
        return;
    m_cameraAvailable = args.at(0).toBool();
    const bool running = m_stateMachine.isRunning() || m_stateMachineStarting;
    if (m_cameraAvailable) {
        PM_LOG(9, "[%s:%d] %s: Start photo SM");
        // A machine still stopping is started again once it has stopped.
        if (!running && !m_stateMachineStopping)
            startStateMachine();
    } else {
        PM_LOG(9, "[%s:%d] %s: Stop photo SM");
        if (running && !m_stateMachineStopping) {
            m_stateMachineStopping = true;
            m_stateMachine.stop();
        }
        // The stop runs no exit action: the capture ends here, and the next
        // start asks the camera manager anew and switches the camera off.
        m_cameraKnown = false;
        m_owedCameraSwitch = OwedSwitch::None;
        if (!m_capturePath.isEmpty()) {
            PM_LOG(2, "[%s:%d] %s: Capture of %s ended: camera manager left the bus",
                m_capturePath.toLocal8Bit().constData());
            m_capturePhotoTimer.stop();
            endCapture(DBusInterface::PhotoStatus_CameraError);
        }
    }
    publishState();
}

// A stop takes effect from the event loop, after the caller has returned; the
// camera manager may have come back meanwhile.
void PhotoManagerCtrl::StateMachineStopped()
{
    m_stateMachineStopping = false;
    m_stateMachineStarting = false;
    dropStartQueue();
    if (m_cameraAvailable)
        startStateMachine();
    publishState();
}

void PhotoManagerCtrl::TakePhotoForStream()
{
    PM_LOG(9, "[%s:%d] %s: Capture photo timeout");
    // One capture at a time; while the camera manager is away the stream
    // waits for it.
    if (!machineAccepting() || !m_capturePath.isEmpty())
        return;
    // Stream photos keep the folder within its limit like a client's TakePhoto.
    if (!m_dbusInterface->KeepPhotoFolderWithinLimit()) {
        PM_LOG(2, "[%s:%d] %s: TakePhotoForStream: max photos reached, no more photo please");
        return;
    }
    beginCapture();
}

void PhotoManagerCtrl::TakePhotoTimeout()
{
    if (m_capturePath.isEmpty())
        return;
    PM_LOG(2, "[%s:%d] %s: Capture of %s ended: no CaptureDone within %d ms",
        m_capturePath.toLocal8Bit().constData(), m_capturePhotoTimer.interval());
    endCapture(DBusInterface::PhotoStatus_CameraError);
}

void PhotoManagerCtrl::StartCapturePhotoTimer()
{
    PM_LOG(9, "[%s:%d] %s: Start capture photo timer");
    m_capturePhotoTimer.start(m_captureTimeoutMs);
}

void PhotoManagerCtrl::StopCapturePhotoTimer()
{
    PM_LOG(9, "[%s:%d] %s: Stop capture photo timer");
    m_capturePhotoTimer.stop();
}

void PhotoManagerCtrl::SetCameraActive(bool active)
{
    // The latest decision: one still owed from before is moot.
    m_owedCameraSwitch = OwedSwitch::None;
    // Already so as the camera manager last said: no switch, no signal.
    if (m_cameraKnown && m_cameraActive == active)
        return;
    const QVariantList request{active};
    const SiblingHealth* camera = m_dbusInterface->cameraManagerHealth();
    const bool called = camera && camera->callable();
    const QVariantList reply
        = m_dbusInterface->CameraCallSynch(DBusInterface::CameraCommand_VideoSetActive, request);
    if (reply.size() == 1 && reply.at(0).toInt() == 0) {
        m_cameraKnown = true;
        m_cameraActive = active;
        m_dbusInterface->EmitEvent(DBusInterface::PhotoEvent_CameraEnabled, request);
        publishState();
        return;
    }
    if (reply.size() == 1)
        PM_LOG(2, "[%s:%d] %s: VideoSetActive(%s) refused by the camera manager: %d",
            active ? "true" : "false", reply.at(0).toInt());
    else
        PM_LOG(2, "[%s:%d] %s: VideoSetActive(%s) failed: no answer from the camera manager",
            active ? "true" : "false");
    // Not made because it is silent: the machine keeps the state it decided,
    // and the switch is made once the camera manager answers again. A call
    // that timed out may have switched the camera all the same.
    if (camera && !camera->answering()) {
        m_cameraKnown = m_cameraKnown && !called;
        m_owedCameraSwitch = active ? OwedSwitch::On : OwedSwitch::Off;
        publishState();
        return;
    }
    // Refused or failed: the camera stays as it was. The machine, which has
    // moved on, is taken back ahead of any other request, without a call, so
    // that the next request does switch the camera. A capture, which
    // discards the event, returns to the state it interrupted by itself.
    if (m_cameraKnown)
        postToStateMachine(m_cameraActive ? static_cast<QEvent*>(new EnableCameraEvent())
                                          : new DisableCameraEvent(),
            QStateMachine::HighPriority);
}

void PhotoManagerCtrl::EnableCamera()
{
    PM_LOG(9, "[%s:%d] %s: Enable camera");
    SetCameraActive(true);
}

void PhotoManagerCtrl::DisableCamera()
{
    PM_LOG(9, "[%s:%d] %s: Disable Camera");
    SetCameraActive(false);
}

void PhotoManagerCtrl::CapturePhoto()
{
    PM_LOG(9, "[%s:%d] %s: Capture Photo");
    // Set when the RGB feature is to be left alone: already off, or unknown.
    bool leaveRgbAlone = true;
    const QVariantList disabled
        = m_dbusInterface->RGBManagerCallSynch(DBusInterface::RGBManagerCommand_IsDisabled, {});
    if (disabled.size() != 1) {
        PM_LOG(2, "[%s:%d] %s: I don't know if the RGB is disabled, do nothing");
    } else if (!disabled.at(0).toBool()) {
        leaveRgbAlone = false;
        m_rgbRecord.write();
        const QVariantList reply = m_dbusInterface->RGBManagerCallSynch(
            DBusInterface::RGBManagerCommand_Disable, QVariantList{true});
        if (reply.isEmpty() || reply.at(0).toInt() != 0)
            PM_LOG(1, "[%s:%d] %s: Cannot disable RGB");
    } else if (m_rgbOwed || m_rgbRecord.present()) {
        // Off since an earlier capture of ours could not switch it on again.
        leaveRgbAlone = false;
    }

    // Entered without a request (an event posted from elsewhere): a capture
    // of its own all the same.
    if (m_capturePath.isEmpty()) {
        m_capturePath = newImagePath();
        publishState();
    }
    // On success the outcome arrives as CaptureDone, or the guard ends the
    // capture; a refusal or failure ends it once the RGB feature is back.
    const QVariantList capture = m_dbusInterface->CameraCallSynch(
        DBusInterface::CameraCommand_CaptureSingle, QVariantList{m_capturePath});

    if (!leaveRgbAlone) {
        const QVariantList reply = m_dbusInterface->RGBManagerCallSynch(
            DBusInterface::RGBManagerCommand_Disable, QVariantList{false});
        m_rgbOwed = reply.isEmpty() || reply.at(0).toInt() != 0;
        if (m_rgbOwed)
            PM_LOG(1, "[%s:%d] %s: Cannot enable RGB");
        else
            m_rgbRecord.remove();
    }
    captureRequested(capture);
}

void PhotoManagerCtrl::captureRequested(const QVariantList& reply)
{
    const QByteArray path = m_capturePath.toLocal8Bit();
    if (reply.size() != 1) {
        PM_LOG_PHOTO(2, path.constData(), int(DBusInterface::PhotoStatus_CameraError),
            "[%s:%d] %s: Capture of %s failed: CaptureSingle call failed", path.constData());
        endCapture(DBusInterface::PhotoStatus_CameraError);
        return;
    }
    const int status = reply.at(0).toInt();
    if (status == DBusInterface::PhotoStatus_Ok)
        return;
    PM_LOG_PHOTO(2, path.constData(), status,
        "[%s:%d] %s: Capture of %s refused by the camera manager: %d", path.constData(), status);
    discardFailedCapture(status);
    endCapture(status < 0 ? status : int(DBusInterface::PhotoStatus_CameraError));
}

// The camera manager reported the capture under way failed: whatever it left
// at the path, named for this capture alone, is no photo, and would only take
// room from the next one. A capture that ends without its report keeps what
// the camera manager may still be writing.
void PhotoManagerCtrl::discardFailedCapture(int status)
{
    const QByteArray path = m_capturePath.toLocal8Bit();
    if (status == -ENOSPC)
        PM_LOG_PHOTO(2, path.constData(), status,
            "[%s:%d] %s: Capture of %s failed: no space left on the photo folder's file system",
            path.constData());
    if (m_dbusInterface->RemoveFailedCapture(m_capturePath))
        PM_LOG_PHOTO(2, path.constData(), status,
            "[%s:%d] %s: Capture of %s failed: the file it left was removed", path.constData());
}

// A photo named after the current second, with a counter when more photos
// fall into that second or the name is taken on disk. Within a second the
// counter only grows, so no name is issued twice, not even one whose photo
// the camera manager has not written yet or trimming has deleted since.
QString PhotoManagerCtrl::newImagePath()
{
    const QString stamp = localTimeStamp();
    const QString prefix = m_photoPath + QLatin1String("/image_") + stamp;
    int counter = stamp == m_lastImageStamp ? m_lastImageCounter + 1 : 0;
    QString path;
    for (;; ++counter) {
        path = counter == 0
            ? prefix + QLatin1String(".jpg")
            : prefix + QLatin1Char('_') + QString::number(counter) + QLatin1String(".jpg");
        // Anything at the path, a dangling link included, takes the name.
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            break;
    }
    m_lastImageStamp = stamp;
    m_lastImageCounter = counter;
    return path;
}

bool PhotoManagerCtrl::isCameraEnabledByUser()
{
    const Configuration configuration(BusNames::kPhotoPath);
    bool enabled = false;
    if (configuration.IsAvailable()) {
        bool ok = false;
        enabled = configuration.ReadConfigValue(
                      QStringLiteral("IPCAMERA"), QStringLiteral("user_enabled"), 0, &ok, true)
            != 0;
    }
    PM_LOG(9, "[%s:%d] %s: camera enabled by user: %d", enabled ? 1 : 0);
    return enabled;
}

bool PhotoManagerCtrl::isQuorPowerSupplied()
{
    // Before Initialize there is no status manager client to ask.
    bool power = false;
    const bool callable = m_statusManagerProxy && m_statusHealth->callable();
    const QDBusReply<int> reply = callable
        ? m_statusManagerProxy->GetPowerOk(power)
        : QDBusReply<int>(QDBusError(QDBusError::Disconnected, QString()));
    if (callable)
        m_statusHealth->noteReply(reply.error());
    PM_LOG(9, "[%s:%d] %s: any power supply connected?: %d", power ? 1 : 0);
    return reply.isValid() && reply.value() == 0 && power;
}

void PhotoManagerCtrl::EnableCameraOnPowerOk(bool powerOk)
{
    if (!isCameraEnabledByUser() || !powerOk)
        return;
    PM_LOG(4, "[%s:%d] %s: Enable camera due to Power OK");
    m_dbusInterface->EnableCamera(true);
}

void PhotoManagerCtrl::StateMachineReady()
{
    m_stateMachineStarting = false;
    PM_LOG(9, "[%s:%d] %s: statemachine available");
    postStartQueue();
    if (!isCameraEnabledByUser())
        return;
    if (!isQuorPowerSupplied())
        return;
    PM_LOG(4, "[%s:%d] %s: Re-Enable camera on boot due to Power OK");
    m_dbusInterface->EnableCamera(true);
}
