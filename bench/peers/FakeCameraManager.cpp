#include "FakeCameraManager.h"

#include <QDBusConnection>
#include <QDBusMessage>

FakeCameraManager::FakeCameraManager(QObject* parent)
    : QObject(parent)
    , m_active(false)
{
}

int FakeCameraManager::CaptureImage(const QString& ImagePath)
{
    return acknowledgeCapture(ImagePath);
}

int FakeCameraManager::CaptureSingle(const QString& ImagePath)
{
    return acknowledgeCapture(ImagePath);
}

int FakeCameraManager::VideoGetActive(bool& Active)
{
    Active = m_active;
    return 0;
}

int FakeCameraManager::VideoSetActive(bool Active)
{
    m_active = Active;
    return 0;
}

// Reply and signal go out through the same connection queue, so the caller
// always sees the acknowledgement before CaptureDone, as from the real one.
int FakeCameraManager::acknowledgeCapture(const QString& imagePath)
{
    setDelayedReply(true);
    connection().send(message().createReply(QVariant(0)));
    emit CaptureDone(0, imagePath);
    return 0;
}
