#pragma once

#include "common/BusNames.h"

#include <QObject>
#include <QString>

class CameraProxy;
class RGBManagerProxy;

// The least a photo service can do on this stack: it answers TakePhoto, then
// makes the daemon's sibling calls in the daemon's order, each a blocking
// call through the generated proxies as the daemon makes it, and relays
// CaptureDone as PhotoTaken before switching the camera off again. No log,
// no state machine, no folder trimming, no properties.
class PhotoRelay : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", QUOR_PHOTO_INTERFACE)

public:
    explicit PhotoRelay(QObject* parent = nullptr);

signals:
    void CameraEnabled(bool Enabled);
    void PhotoTaken(int Status, const QString& ImagePath);

public slots:
    int TakePhoto();

private:
    void capture();
    void captureDone(int status, const QString& imagePath);

    CameraProxy* m_camera;
    RGBManagerProxy* m_rgb;
    QString m_capturePath; // empty when no capture is under way
};
