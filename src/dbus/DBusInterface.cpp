#include "DBusInterface.h"

#include "CameraProxy.h"
#include "RGBManagerProxy.h"
#include "common/BusNames.h"
#include "common/FolderManager.h"
#include "common/Log.h"
#include "dbus/PhotoManagerAdaptor.h"
#include "dbus/PhotoStateAdaptor.h"
#include "dbus/SiblingHealth.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

namespace {

constexpr unsigned bit(unsigned position)
{
    return 1u << position;
}

unsigned changesBetween(const DBusInterface::PhotoState& a, const DBusInterface::PhotoState& b)
{
    unsigned changed = 0;
    for (unsigned i = 0; i < DBusInterface::kStatePropertyCount; ++i) {
        const DBusInterface::StatePropertyRow& property = DBusInterface::kStateProperties[i];
        if (property.value(a) != property.value(b))
            changed |= bit(i);
    }
    return changed;
}

// What the event of each photo interface signal may change; one of no kind
// known, anything.
unsigned changedBy(DBusInterface::PhotoEvent event)
{
    if (event < DBusInterface::PhotoEvent_CameraEnabled
        || event > DBusInterface::PhotoEvent_PhotoStreamStopped)
        return ~0u;
    unsigned changes = 0;
    for (unsigned i = 0; i < DBusInterface::kStatePropertyCount; ++i) {
        if (DBusInterface::kStateProperties[i].changedBy & bit(event))
            changes |= bit(i);
    }
    return changes;
}

// Posted with low priority, so that it comes after the events the turn has
// posted, the state machine's included.
const QEvent::Type kSendHeldState = static_cast<QEvent::Type>(QEvent::registerEventType());

// Waits for a sibling's answer: its one value, or nothing when the call
// failed (error reply, time-out, a reply of another type).
template <typename T> QVariantList answerOf(QDBusPendingReply<T> reply, SiblingHealth* health)
{
    reply.waitForFinished();
    health->noteReply(reply.error());
    if (reply.isError())
        return QVariantList();
    return QVariantList{reply.template argumentAt<0>()};
}
} // namespace

// A new property: a member of PhotoState, its place in StateProperty, a row
// here and a getter in PhotoStateAdaptor.
const DBusInterface::StatePropertyRow DBusInterface::kStateProperties[] = {
    {"CameraManagerPresent", [](const PhotoState& s) -> QVariant { return s.cameraManagerPresent; },
        0},
    {"CameraEnabled", [](const PhotoState& s) -> QVariant { return s.cameraEnabled; },
        bit(PhotoEvent_CameraEnabled)},
    {"Capturing", [](const PhotoState& s) -> QVariant { return s.capturing; },
        bit(PhotoEvent_PhotoTaken)},
    {"StreamInterval", [](const PhotoState& s) -> QVariant { return s.streamInterval; },
        bit(PhotoEvent_PhotoStreamStopped)},
    {"StreamPhotos", [](const PhotoState& s) -> QVariant { return s.streamPhotos; },
        bit(PhotoEvent_PhotoTaken) | bit(PhotoEvent_PhotoStreamStopped)},
    {"LastPhoto", [](const PhotoState& s) -> QVariant { return s.lastPhoto; },
        bit(PhotoEvent_PhotoTaken)},
};
const unsigned DBusInterface::kStatePropertyCount = std::size(DBusInterface::kStateProperties);

DBusInterface::DBusInterface(QObject* parent)
    : QObject(parent)
    , m_adaptor(new PhotoManagerAdaptor(this))
    , m_stateAdaptor(new PhotoStateAdaptor(this))
    , m_cameraProxy(nullptr)
    , m_cameraServiceWatcher(nullptr)
    , m_cameraHealth(nullptr)
    , m_rgbManagerProxy(nullptr)
    , m_rgbHealth(nullptr)
    , m_folderManager(nullptr)
    , m_cameraCheckTimer(new QTimer(this))
{
    qRegisterMetaType<DBusInterface::PhotoCommand>();
    qRegisterMetaType<DBusInterface::PhotoEvent>();
    qRegisterMetaType<DBusInterface::CameraEvent>();
    connect(
        m_cameraCheckTimer, &QTimer::timeout, this, &DBusInterface::CheckForCameraServiceAvailable);
}

DBusInterface::~DBusInterface()
{
    SendHeldPhotoState();
    delete m_folderManager;
}

bool DBusInterface::RegisterDBusService(const char* serviceName, const char* objectPath)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // Only the adaptors' interfaces are visible on the bus, not the hub's own slots.
    if (!bus.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportAdaptors))
        return false;
    m_objectPath = QString::fromLatin1(objectPath);
    const QString name = QString::fromLatin1(serviceName);
    return bus.registerService(name) && waitForNameAcquired(bus, name);
}

// QtDBus's own thread adds the name to its list of this connection's names
// once more when the bus's NameAcquired reaches it, without keeping out the
// calls that read that list: every call to a sibling does, and one made
// meanwhile can crash. The answer to a call made to the bus after the name
// was granted is handled after that signal, in order, by the same thread
// (a blocking call would take its answer out of turn), once the connection
// delivers at all (see main): once it is there, the list is settled. A call
// to the bus itself reads no list.
bool DBusInterface::waitForNameAcquired(const QDBusConnection& bus, const QString& name)
{
    QDBusMessage getOwner = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("GetNameOwner"));
    getOwner << name;
    const QDBusPendingCall owner = bus.asyncCall(getOwner);
    const QDeadlineTimer deadline(kNameAcquiredTimeoutMs);
    while (!owner.isFinished() && !deadline.hasExpired())
        QThread::usleep(100);
    return owner.isFinished() && !owner.isError();
}

void DBusInterface::SetPhotoFolder(const char* path, int maxFiles)
{
    delete m_folderManager;
    m_folderManager = new FolderManager(path, maxFiles);
}

bool DBusInterface::KeepPhotoFolderWithinLimit()
{
    return !m_folderManager || m_folderManager->RemoveExceedingFiles();
}

bool DBusInterface::RemoveFailedCapture(const QString& photoPath)
{
    return m_folderManager && m_folderManager->RemoveFailedCapture(photoPath);
}

void DBusInterface::SetPhotoState(const PhotoState& state)
{
    const unsigned changed = changesBetween(m_state, state);
    if (changed & m_heldChanges)
        SendHeldPhotoState();
    m_state = state;
    m_heldChanges |= changed;
    if (m_heldChanges != 0 && !m_sendPosted) {
        m_sendPosted = true;
        QCoreApplication::postEvent(this, new QEvent(kSendHeldState), Qt::LowEventPriority);
    }
}

void DBusInterface::customEvent(QEvent* event)
{
    if (event->type() != kSendHeldState)
        return;
    if (m_staleSends > 0) {
        --m_staleSends;
        return;
    }
    m_sendPosted = false;
    SendHeldPhotoState();
}

void DBusInterface::SendHeldPhotoState()
{
    // Sent before the posted send: that one may come ahead of what the turn
    // posts from now on, so later changes post a send of their own.
    if (m_sendPosted) {
        m_sendPosted = false;
        ++m_staleSends;
    }
    const unsigned held = m_heldChanges;
    m_heldChanges = 0;
    if (held == 0 || m_objectPath.isEmpty())
        return;
    QVariantMap changed;
    for (unsigned i = 0; i < kStatePropertyCount; ++i) {
        if (held & bit(i))
            changed.insert(
                QLatin1String(kStateProperties[i].name), kStateProperties[i].value(m_state));
    }
    QDBusMessage signal = QDBusMessage::createSignal(m_objectPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << QStringLiteral(QUOR_PHOTOSTATE_INTERFACE) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

const DBusInterface::PhotoState& DBusInterface::photoState() const
{
    return m_state;
}

// A request the camera cannot carry out now is refused rather than dropped:
// nobody to carry it out (-51), or a capture under way (-50). 0 otherwise.
int DBusInterface::refusal(const char* method)
{
    if (!m_state.cameraManagerPresent) {
        PM_LOG(2, "[%s:%d] %s: %s: camera manager not on the bus", method);
        return PhotoStatus_CameraError;
    }
    return m_state.capturing ? PhotoStatus_CameraBusy : PhotoStatus_Ok;
}

int DBusInterface::EnableCamera(bool Enable)
{
    if (const int status = refusal("EnableCamera"))
        return status;
    emit CommandReceived(PhotoCommand_EnableCamera, QVariantList{Enable});
    return 0;
}

bool DBusInterface::IsEnabledCamera()
{
    const QVariantList result = CameraCallSynch(CameraCommand_VideoGetActive, QVariantList());
    return result.size() == 2 && result.at(0).toInt() == 0 && result.at(1).toBool();
}

int DBusInterface::StopPhotoStream()
{
    emit CommandReceived(PhotoCommand_StopPhotoStream, QVariantList());
    return 0;
}

int DBusInterface::TakePhoto()
{
    if (!KeepPhotoFolderWithinLimit()) {
        PM_LOG(2, "[%s:%d] %s: TakePhoto: max photos reached, no more photo please");
        return PhotoStatus_FolderNotWithinLimit;
    }
    if (const int status = refusal("TakePhoto"))
        return status;
    emit CommandReceived(PhotoCommand_TakePhoto, QVariantList());
    return 0;
}

int DBusInterface::TakePhotoStream(int Interval_s)
{
    if (!KeepPhotoFolderWithinLimit()) {
        PM_LOG(2, "[%s:%d] %s: TakePhotoStream: max photos reached, no more photo please");
        return PhotoStatus_FolderNotWithinLimit;
    }
    // The controller sees every request (it logs a second one) and tells the
    // hub, inside the emission, when it has started the stream.
    const bool streaming = m_state.streamInterval > 0;
    emit CommandReceived(PhotoCommand_TakePhotoStream, QVariantList{Interval_s});
    if (streaming)
        return PhotoStatus_CameraBusy;
    return m_state.streamInterval > 0 ? PhotoStatus_Ok : PhotoStatus_InvalidArgument;
}

void DBusInterface::EmitEvent(DBusInterface::PhotoEvent evt, const QVariantList& args)
{
    // The record of a PhotoTaken carries its path and status to the journal.
    if (evt == PhotoEvent_PhotoTaken && args.size() == 2)
        PM_LOG_PHOTO(9, args.at(1).toString().toLocal8Bit().constData(), args.at(0).toInt(),
            "[%s:%d] %s: Emit Photo Event %d", static_cast<int>(evt));
    else
        PM_LOG(9, "[%s:%d] %s: Emit Photo Event %d", static_cast<int>(evt));
    if (m_heldChanges & changedBy(evt))
        SendHeldPhotoState();
    switch (evt) {
    case PhotoEvent_CameraEnabled:
        if (args.size() == 1)
            emit CameraEnabled(args.at(0).toBool());
        break;
    case PhotoEvent_PhotoTaken:
        if (args.size() == 2)
            emit PhotoTaken(args.at(0).toInt(), args.at(1).toString());
        break;
    case PhotoEvent_PhotoStreamStopped:
        if (args.size() == 1)
            emit PhotoStreamStopped(args.at(0).toInt());
        break;
    }
}

void DBusInterface::CaptureDone(int Status, const QString& ImagePath)
{
    emit EventReceived(CameraEvent_CaptureDone, QVariantList{Status, ImagePath});
}

bool DBusInterface::InitCameraProxy(const char* service, const char* path, int timeout)
{
    if (m_cameraProxy || m_cameraServiceWatcher)
        return false;
    const QString serviceName = QString::fromLatin1(service);
    const QDBusConnection bus = QDBusConnection::sessionBus();
    m_cameraProxy = new CameraProxy(serviceName, QString::fromLatin1(path), bus, this);
    m_cameraProxy->setTimeout(timeout);
    connect(m_cameraProxy, &CameraProxy::CaptureDone, this, &DBusInterface::CaptureDone);

    m_cameraServiceWatcher
        = new QDBusServiceWatcher(serviceName, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_cameraServiceWatcher, &QDBusServiceWatcher::serviceRegistered, this,
        &DBusInterface::CameraDBusServiceRegistered);
    connect(m_cameraServiceWatcher, &QDBusServiceWatcher::serviceUnregistered, this,
        &DBusInterface::CameraDBusServiceUnregistered);
    m_cameraHealth = new SiblingHealth(serviceName, this, m_cameraServiceWatcher);
    connect(m_cameraProxy, &CameraProxy::CaptureDone, m_cameraHealth, &SiblingHealth::noteLife);

    m_cameraObjectPath = QString::fromLatin1(path);
    m_cameraServiceName = serviceName;
    // A camera manager already on the bus is found by the check that the
    // controller makes at once once it listens, then by the repeated one;
    // the watcher reports only later changes of ownership.
    m_cameraCheckTimer->start(m_cameraCheckIntervalMs);
    return true;
}

void DBusInterface::SetCameraCheckInterval(int milliseconds)
{
    m_cameraCheckIntervalMs = milliseconds;
}

void DBusInterface::CheckForCameraServiceAvailable()
{
    const QByteArray service = m_cameraServiceName.toLocal8Bit();
    const QByteArray path = m_cameraObjectPath.toLocal8Bit();
    PM_LOG(
        9, "[%s:%d] %s: Check for Service %s on path %s Up", service.constData(), path.constData());
    if (!m_cameraHealth->callable())
        return;
    bool active = false;
    const QDBusReply<int> reply = m_cameraProxy->VideoGetActive(active);
    m_cameraHealth->noteReply(reply.error());
    if (!reply.isValid())
        return;
    PM_LOG(9, "[%s:%d] %s: Check for Service %s on path %s Up: SUCCEED", service.constData(),
        path.constData());
    CameraDBusServiceRegistered(m_cameraServiceName);
}

void DBusInterface::CameraDBusServiceRegistered(const QString& serviceName)
{
    PM_LOG(
        9, "[%s:%d] %s: Camera DBus service %s REGISTERED", serviceName.toLocal8Bit().constData());
    m_cameraCheckTimer->stop();
    emit EventReceived(CameraEvent_ServiceAvailable, QVariantList{true});
}

void DBusInterface::CameraDBusServiceUnregistered(const QString& serviceName)
{
    PM_LOG(9, "[%s:%d] %s: Camera DBus service %s UNREGISTERED",
        serviceName.toLocal8Bit().constData());
    emit EventReceived(CameraEvent_ServiceAvailable, QVariantList{false});
}

QVariantList DBusInterface::CameraCallSynch(
    DBusInterface::CameraCommand cmd, const QVariantList& args)
{
    PM_LOG(9, "[%s:%d] %s: Camera Call Synch %d", static_cast<int>(cmd));
    if (!m_cameraProxy)
        return QVariantList();
    // A silent camera manager is not called: the result of a failed call.
    // That of VideoGetActive is never empty: status 0, video inactive.
    if (!m_cameraHealth->callable())
        return cmd == CameraCommand_VideoGetActive ? QVariantList{0, false} : QVariantList();

    switch (cmd) {
    case CameraCommand_VideoSetActive: {
        if (args.size() != 1)
            return QVariantList();
        return answerOf(m_cameraProxy->VideoSetActive(args.at(0).toBool()), m_cameraHealth);
    }
    case CameraCommand_VideoGetActive: {
        bool active = false;
        const QDBusReply<int> reply = m_cameraProxy->VideoGetActive(active);
        m_cameraHealth->noteReply(reply.error());
        return QVariantList{reply.isValid() ? reply.value() : 0, active};
    }
    case CameraCommand_CaptureSingle:
        return callCaptureMethod(true, args);
    default:
        return callCaptureMethod(false, args);
    }
}

QVariantList DBusInterface::callCaptureMethod(bool single, const QVariantList& args)
{
    if (args.size() != 1)
        return QVariantList();
    const QString imagePath = args.at(0).toString();
    return answerOf(
        single ? m_cameraProxy->CaptureSingle(imagePath) : m_cameraProxy->CaptureImage(imagePath),
        m_cameraHealth);
}

SiblingHealth* DBusInterface::cameraManagerHealth() const
{
    return m_cameraHealth;
}

SiblingHealth* DBusInterface::rgbManagerHealth() const
{
    return m_rgbHealth;
}

bool DBusInterface::InitRGBManagerProxy(const char* service, const char* path, int timeout)
{
    if (m_rgbManagerProxy)
        return false;
    m_rgbManagerProxy = new RGBManagerProxy(QString::fromLatin1(service), QString::fromLatin1(path),
        QDBusConnection::sessionBus(), this);
    m_rgbManagerProxy->setTimeout(timeout);
    m_rgbHealth = new SiblingHealth(QString::fromLatin1(service), this);
    connect(
        m_rgbManagerProxy, &RGBManagerProxy::RgbDisabled, m_rgbHealth, &SiblingHealth::noteLife);
    return true;
}

QVariantList DBusInterface::RGBManagerCallSynch(
    DBusInterface::RGBManagerCommand cmd, const QVariantList& args)
{
    PM_LOG(9, "[%s:%d] %s: RGBManager Call Synch %d", static_cast<int>(cmd));
    if (!m_rgbManagerProxy || !m_rgbHealth->callable())
        return QVariantList();

    if (cmd == RGBManagerCommand_Disable) {
        if (args.size() != 1)
            return QVariantList();
        // The change is never saved: the feature is off only for one photo.
        return answerOf(m_rgbManagerProxy->Disable(args.at(0).toBool(), false), m_rgbHealth);
    }

    return answerOf(m_rgbManagerProxy->IsDisabled(), m_rgbHealth);
}
