#include "PhotoCtl.h"

#include "PhotoInterfaceProxy.h"
#include "common/BusNames.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>

#include <cstdio>

namespace {
using BusNames::kPhotoPath;
using BusNames::kPhotoService;
using BusNames::kPhotoStateInterface;

// What a negative status of the photo service means.
QString reasonOf(int status)
{
    switch (status) {
    case -59:
        return QStringLiteral("the photo folder is full or missing");
    case -51:
        return QStringLiteral("the camera manager is not available or failed");
    case -50:
        return QStringLiteral("the camera is busy with another capture");
    case -22:
        return QStringLiteral("invalid argument");
    default:
        return QStringLiteral("the camera manager's error code");
    }
}

const char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
// The order of the state interface's file; others, if any, follow by name.
const char* const kStateProperties[] = {"CameraManagerPresent", "CameraEnabled", "Capturing",
    "StreamInterval", "StreamPhotos", "LastPhoto"};

// Name=value as systemctl show prints it: booleans as yes or no.
QString assignment(const QString& name, const QVariant& value)
{
    QString text = value.toString();
    if (value.userType() == QMetaType::Bool)
        text = value.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    return name + QLatin1Char('=') + text;
}

QStringList assignments(QVariantMap properties)
{
    QStringList lines;
    for (const char* name : kStateProperties) {
        if (properties.contains(QLatin1String(name)))
            lines << assignment(QLatin1String(name), properties.take(QLatin1String(name)));
    }
    for (auto it = properties.cbegin(); it != properties.cend(); ++it)
        lines << assignment(it.key(), it.value());
    return lines;
}

void printOut(const QString& line)
{
    // Flushed at once: a monitor is usually read through a pipe.
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

void printError(const QString& message)
{
    std::fprintf(stderr, "photomanager-ctl: %s\n", message.toLocal8Bit().constData());
}

QString onOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}
} // namespace

PhotoCtl::PhotoCtl(int timeoutS, QObject* parent)
    : QObject(parent)
    , m_proxy(new PhotoInterfaceProxy(QString::fromLatin1(kPhotoService),
          QString::fromLatin1(kPhotoPath), QDBusConnection::sessionBus(), this))
    , m_awaited(Awaited_Nothing)
    , m_wantedEnabled(false)
    , m_finished(false)
    , m_exitStatus(Exit_Ok)
    , m_timeoutS(timeoutS)
{
    m_proxy->setTimeout(timeoutS * 1000);
    connect(m_proxy, &PhotoInterfaceProxy::CameraEnabled, this, &PhotoCtl::OnCameraEnabled);
    connect(m_proxy, &PhotoInterfaceProxy::PhotoTaken, this, &PhotoCtl::OnPhotoTaken);
    connect(
        m_proxy, &PhotoInterfaceProxy::PhotoStreamStopped, this, &PhotoCtl::OnPhotoStreamStopped);

    QDBusConnection::sessionBus().connect(QString::fromLatin1(kPhotoService),
        QString::fromLatin1(kPhotoPath), QString::fromLatin1(kPropertiesInterface),
        QStringLiteral("PropertiesChanged"), this,
        SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList)));

    auto* watcher = new QDBusServiceWatcher(QString::fromLatin1(kPhotoService),
        QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, &PhotoCtl::OnDaemonLeft);

    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        printError(QStringLiteral("no answer from photomanager within %1 s").arg(m_timeoutS));
        finish(Exit_TimedOut);
    });
}

PhotoCtl::~PhotoCtl() = default;

int PhotoCtl::Take()
{
    if (!isBusConnected())
        return Exit_NotOnBus;
    expect(Awaited_PhotoTaken);
    return waitForAnswer(statusOf("TakePhoto", m_proxy->TakePhoto()));
}

int PhotoCtl::Stream(int intervalS)
{
    if (!isBusConnected())
        return Exit_NotOnBus;
    const int status = statusOf("TakePhotoStream", m_proxy->TakePhotoStream(intervalS));
    // The status of a request that was accepted: 0.
    if (status == Exit_Ok)
        printOut(QStringLiteral("0"));
    return status;
}

int PhotoCtl::Stop()
{
    if (!isBusConnected())
        return Exit_NotOnBus;
    expect(Awaited_PhotoStreamStopped);
    return waitForAnswer(statusOf("StopPhotoStream", m_proxy->StopPhotoStream()));
}

int PhotoCtl::Enable(bool enable)
{
    if (!isBusConnected())
        return Exit_NotOnBus;
    QDBusPendingReply<bool> current = m_proxy->IsEnabledCamera();
    if (const int failed = replyOf("IsEnabledCamera", current))
        return failed;
    m_wantedEnabled = enable;
    expect(Awaited_CameraEnabled);
    const int status = statusOf("EnableCamera", m_proxy->EnableCamera(enable));
    // The daemon is still told, but a camera that already is so sends no
    // CameraEnabled.
    if (status != Exit_Ok || current.value() != enable)
        return waitForAnswer(status);
    printOut(onOff(enable));
    return Exit_Ok;
}

int PhotoCtl::Status()
{
    if (!isBusConnected())
        return Exit_NotOnBus;
    QDBusPendingReply<bool> reply = m_proxy->IsEnabledCamera();
    if (const int failed = replyOf("IsEnabledCamera", reply))
        return failed;
    printOut(onOff(reply.value()));
    return Exit_Ok;
}

int PhotoCtl::Show()
{
    if (!isBusConnected())
        return Exit_NotOnBus;
    QDBusMessage getAll = QDBusMessage::createMethodCall(QString::fromLatin1(kPhotoService),
        QString::fromLatin1(kPhotoPath), QString::fromLatin1(kPropertiesInterface),
        QStringLiteral("GetAll"));
    getAll << QString::fromLatin1(kPhotoStateInterface);
    QDBusPendingReply<QVariantMap> reply
        = QDBusConnection::sessionBus().asyncCall(getAll, m_timeoutS * 1000);
    if (const int failed = replyOf("GetAll", reply))
        return failed;
    const QStringList lines = assignments(reply.value());
    for (const QString& line : lines)
        printOut(line);
    return Exit_Ok;
}

int PhotoCtl::Monitor()
{
    if (!QDBusConnection::sessionBus().isConnected()) {
        printError(QStringLiteral("no session bus: %1")
                       .arg(QDBusConnection::sessionBus().lastError().message()));
        return Exit_NotOnBus;
    }
    // The daemon may come and go; the subscription stays.
    expect(Awaited_Everything);
    return waitForAnswer(Exit_Ok);
}

void PhotoCtl::Interrupt()
{
    if (m_awaited == Awaited_Everything) {
        finish(Exit_Ok);
    } else {
        printError(QStringLiteral("interrupted"));
        finish(Exit_Interrupted);
    }
}

void PhotoCtl::OnCameraEnabled(bool enabled)
{
    if (m_awaited == Awaited_Everything) {
        printOut(QStringLiteral("CameraEnabled %1").arg(QLatin1String(enabled ? "true" : "false")));
    } else if (m_awaited == Awaited_CameraEnabled && enabled == m_wantedEnabled) {
        printOut(onOff(enabled));
        finish(Exit_Ok);
    }
}

void PhotoCtl::OnPhotoTaken(int status, const QString& imagePath)
{
    if (m_awaited == Awaited_Everything) {
        printOut(QStringLiteral("PhotoTaken %1 %2").arg(status).arg(imagePath));
    } else if (m_awaited == Awaited_PhotoTaken && status != 0) {
        printError(QStringLiteral("photo %1 failed (%2): %3")
                       .arg(imagePath)
                       .arg(status)
                       .arg(reasonOf(status)));
        finish(Exit_Refused);
    } else if (m_awaited == Awaited_PhotoTaken) {
        printOut(imagePath);
        finish(Exit_Ok);
    }
}

void PhotoCtl::OnPhotoStreamStopped(int imagesNum)
{
    if (m_awaited == Awaited_Everything) {
        printOut(QStringLiteral("PhotoStreamStopped %1").arg(imagesNum));
    } else if (m_awaited == Awaited_PhotoStreamStopped) {
        printOut(QString::number(imagesNum));
        finish(Exit_Ok);
    }
}

void PhotoCtl::OnPropertiesChanged(
    const QString& interface, const QVariantMap& changed, const QStringList& /*invalidated*/)
{
    if (m_awaited != Awaited_Everything || interface != QLatin1String(kPhotoStateInterface))
        return;
    const QStringList lines = assignments(changed);
    for (const QString& line : lines)
        printOut(QStringLiteral("PropertiesChanged ") + line);
}

void PhotoCtl::OnDaemonLeft()
{
    if (m_awaited == Awaited_Nothing || m_awaited == Awaited_Everything)
        return;
    printError(QStringLiteral("photomanager left the bus before answering"));
    finish(Exit_NotOnBus);
}

// The daemon itself need not run: the first call starts it where the bus
// can activate it.
bool PhotoCtl::isBusConnected()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        printError(QStringLiteral("no session bus: %1").arg(bus.lastError().message()));
    return bus.isConnected();
}

int PhotoCtl::replyOf(const char* method, QDBusPendingCall call)
{
    call.waitForFinished();
    if (!call.isError())
        return Exit_Ok;
    const QDBusError error = call.error();
    if (error.type() == QDBusError::ServiceUnknown) {
        printError(QStringLiteral("photomanager is not on the bus and cannot be started (%1)")
                       .arg(QLatin1String(kPhotoService)));
        return Exit_NotOnBus;
    }
    printError(QStringLiteral("%1 failed: %2").arg(QLatin1String(method), error.message()));
    const bool late = error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout;
    return late ? Exit_TimedOut : Exit_NotOnBus;
}

int PhotoCtl::statusOf(const char* method, const QDBusPendingReply<int>& reply)
{
    if (const int failed = replyOf(method, reply))
        return failed;
    const int status = reply.value();
    if (status == 0)
        return Exit_Ok;
    printError(QStringLiteral("%1 refused (%2): %3")
                   .arg(QLatin1String(method))
                   .arg(status)
                   .arg(reasonOf(status)));
    return Exit_Refused;
}

void PhotoCtl::expect(Awaited awaited)
{
    m_awaited = awaited;
    m_finished = false;
}

int PhotoCtl::waitForAnswer(int requestStatus)
{
    if (requestStatus != Exit_Ok)
        return requestStatus;
    if (m_awaited != Awaited_Everything)
        m_timer.start(m_timeoutS * 1000);
    // The answer may already have come while the call was being made.
    if (!m_finished)
        m_loop.exec();
    m_timer.stop();
    m_awaited = Awaited_Nothing;
    return m_exitStatus;
}

void PhotoCtl::finish(int exitStatus)
{
    m_exitStatus = exitStatus;
    m_finished = true;
    m_loop.quit();
}
