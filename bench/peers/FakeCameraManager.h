#pragma once

#include "common/BusNames.h"

#include <QDBusContext>
#include <QObject>
#include <QString>

// The camera manager, answering at once. A capture is acknowledged with 0
// and CaptureDone(0, path) follows right after the reply; no file is
// written, so the photo folder the daemon trims stays as the bench made it.
class FakeCameraManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", QUOR_CAMERA_INTERFACE)

public:
    explicit FakeCameraManager(QObject* parent = nullptr);

signals:
    void CaptureDone(int Status, const QString& ImagePath);

public slots:
    int CaptureImage(const QString& ImagePath);
    int CaptureSingle(const QString& ImagePath);
    int VideoGetActive(bool& Active);
    int VideoSetActive(bool Active);

private:
    int acknowledgeCapture(const QString& imagePath);

    bool m_active;
};
