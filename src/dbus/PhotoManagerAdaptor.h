#pragma once

#include "PhotoInterfaceIntrospection.h"
#include "common/BusNames.h"

#include <QDBusAbstractAdaptor>
#include <QString>

class DBusInterface;

// Exports the photo interface on the hub's object: each method forwards to
// the hub slot of the same name, and the hub's CameraEnabled, PhotoTaken and
// PhotoStreamStopped signals are relayed to the bus. The introspection text
// is the interface file itself, comments included.
class PhotoManagerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", QUOR_PHOTO_INTERFACE)
    Q_CLASSINFO("D-Bus Introspection", PHOTO_INTERFACE_INTROSPECTION)

public:
    explicit PhotoManagerAdaptor(DBusInterface* parent);
    ~PhotoManagerAdaptor() override;

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

private:
    // The hub, once the state changes held so far have been sent.
    DBusInterface* newRequest() const;
};
