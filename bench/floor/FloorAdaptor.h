#pragma once

#include "PhotoInterfaceIntrospection.h"

#include <QDBusAbstractAdaptor>
#include <QString>

// The photo interface with nothing behind it: every method answers at once,
// as the daemon would if it did no work of its own. Same interface name and
// introspection text as the daemon's adaptor, so clients cannot tell them
// apart on the bus.
class FloorAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.zandrel.quor.photointerface")
    Q_CLASSINFO("D-Bus Introspection", PHOTO_INTERFACE_INTROSPECTION)

public:
    explicit FloorAdaptor(QObject* parent);
    ~FloorAdaptor() override;

signals:
    void CameraEnabled(bool Enabled);
    void PhotoStreamStopped(int ImagesNum);
    void PhotoTaken(int Status, const QString& ImagePath);

public slots:
    int EnableCamera(bool Enable);
    bool IsEnabledCamera();
    int StopPhotoStream();
    int TakePhoto();
    int TakePhotoStream(int Interval_s);
};
