#pragma once

#include "PhotoStateIntrospection.h"
#include "common/BusNames.h"
#include "dbus/DBusInterface.h"

#include <QDBusAbstractAdaptor>
#include <QString>

// Exports the photo state interface on the hub's object beside the photo
// interface: read-only properties served from the state the hub holds, so
// Get and GetAll never call a sibling and answer after every change they
// show has been sent. The hub sends their PropertiesChanged.
// The introspection text is the interface file itself, comments included.
class PhotoStateAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", QUOR_PHOTOSTATE_INTERFACE)
    Q_CLASSINFO("D-Bus Introspection", PHOTO_STATE_INTROSPECTION)
    // No Qt NOTIFY signals: QtDBus has no use for them, and the bus learns of
    // each change from the PropertiesChanged that the hub sends.
    // clazy:excludeall=qproperty-without-notify
    Q_PROPERTY(bool CameraManagerPresent READ CameraManagerPresent)
    Q_PROPERTY(bool CameraEnabled READ CameraEnabled)
    Q_PROPERTY(bool Capturing READ Capturing)
    Q_PROPERTY(int StreamInterval READ StreamInterval)
    Q_PROPERTY(int StreamPhotos READ StreamPhotos)
    Q_PROPERTY(QString LastPhoto READ LastPhoto)

public:
    explicit PhotoStateAdaptor(DBusInterface* parent);
    ~PhotoStateAdaptor() override;

    bool CameraManagerPresent() const;
    bool CameraEnabled() const;
    bool Capturing() const;
    int StreamInterval() const;
    int StreamPhotos() const;
    QString LastPhoto() const;

private:
    // A property as the hub holds it, once the changes it holds back have
    // been sent.
    QVariant value(DBusInterface::StateProperty property) const;
};
