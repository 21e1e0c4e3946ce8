#include "PhotoRelay.h"

#include "CameraProxy.h"
#include "RGBManagerProxy.h"

#include <QDBusConnection>
#include <QDBusPendingReply>

namespace {
// The daemon's time-out for sibling calls; it is never reached here.
const int kSiblingTimeoutMs = 5000;

// As long as the daemon's names of this second.
const QString kImagePath = QStringLiteral("/opt/quor/data/photo/image_20260101000000.jpg");

template <typename T> bool answered(QDBusPendingReply<T> reply)
{
    reply.waitForFinished();
    return !reply.isError();
}
} // namespace

PhotoRelay::PhotoRelay(QObject* parent)
    : QObject(parent)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    m_camera = new CameraProxy(QString::fromLatin1(BusNames::kCameraService),
        QString::fromLatin1(BusNames::kCameraPath), bus, this);
    m_camera->setTimeout(kSiblingTimeoutMs);
    m_rgb = new RGBManagerProxy(QString::fromLatin1(BusNames::kRgbService),
        QString::fromLatin1(BusNames::kRgbPath), bus, this);
    m_rgb->setTimeout(kSiblingTimeoutMs);
    connect(m_camera, &CameraProxy::CaptureDone, this, &PhotoRelay::captureDone);
}

// Answered first, as the daemon does: the capture runs from the event loop.
int PhotoRelay::TakePhoto()
{
    if (!m_capturePath.isEmpty())
        return -50;
    m_capturePath = kImagePath;
    QMetaObject::invokeMethod(this, &PhotoRelay::capture, Qt::QueuedConnection);
    return 0;
}

void PhotoRelay::capture()
{
    if (answered(m_camera->VideoSetActive(true)))
        emit CameraEnabled(true);
    QDBusPendingReply<bool> disabled = m_rgb->IsDisabled();
    disabled.waitForFinished();
    const bool switchRgb = !disabled.isError() && !disabled.value();
    if (switchRgb)
        answered(m_rgb->Disable(true, false));
    const bool requested = answered(m_camera->CaptureSingle(m_capturePath));
    if (switchRgb)
        answered(m_rgb->Disable(false, false));
    if (!requested)
        captureDone(-51, m_capturePath);
}

void PhotoRelay::captureDone(int status, const QString& imagePath)
{
    if (m_capturePath.isEmpty() || imagePath != m_capturePath)
        return;
    m_capturePath.clear();
    emit PhotoTaken(status, imagePath);
    if (answered(m_camera->VideoSetActive(false)))
        emit CameraEnabled(false);
}
