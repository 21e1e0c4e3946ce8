#include "FakeCameraManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

FakeCameraManager::FakeCameraManager(const QString& dataDir, QObject* parent)
    : QObject(parent)
    , m_dataDir(dataDir)
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
    static const QString dataPrefix = QStringLiteral("/opt/quor/data/");
    if (!m_dataDir.isEmpty() && imagePath.startsWith(dataPrefix)) {
        const QByteArray path
            = QFile::encodeName(m_dataDir + QLatin1Char('/') + imagePath.mid(dataPrefix.size()));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, "jpeg", 4) != 4)
            std::fprintf(stderr, "camera: cannot write %s\n", path.constData());
        if (fd >= 0)
            ::close(fd);
    }
    setDelayedReply(true);
    connection().send(message().createReply(QVariant(0)));
    emit CaptureDone(0, imagePath);
    return 0;
}
