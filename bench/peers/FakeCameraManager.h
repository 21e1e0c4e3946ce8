#pragma once

#include "common/BusNames.h"

#include <QDBusContext>
#include <QObject>
#include <QString>

// The camera manager, answering at once. A capture writes a small file at
// the path it is given, as the device's camera manager writes a photo, so the
// service's photo folder grows by one at every photo and its trim runs; the
// service's /opt/quor/data is dataDir here, outside its mount namespace. The
// capture is acknowledged with 0 and CaptureDone(0, path) follows right after
// the reply.
class FakeCameraManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", QUOR_CAMERA_INTERFACE)

public:
    explicit FakeCameraManager(const QString& dataDir, QObject* parent = nullptr);

signals:
    void CaptureDone(int Status, const QString& ImagePath);

public slots:
    int CaptureImage(const QString& ImagePath);
    int CaptureSingle(const QString& ImagePath);
    int VideoGetActive(bool& Active);
    int VideoSetActive(bool Active);

private:
    int acknowledgeCapture(const QString& imagePath);

    QString m_dataDir;
    bool m_active;
};
