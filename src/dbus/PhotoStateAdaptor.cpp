#include "PhotoStateAdaptor.h"

#include "dbus/DBusInterface.h"

PhotoStateAdaptor::PhotoStateAdaptor(DBusInterface* parent)
    : QDBusAbstractAdaptor(parent)
{
}

PhotoStateAdaptor::~PhotoStateAdaptor() = default;

DBusInterface* PhotoStateAdaptor::hub() const
{
    return static_cast<DBusInterface*>(parent());
}

bool PhotoStateAdaptor::CameraManagerPresent() const
{
    return hub()->photoState().cameraManagerPresent;
}

bool PhotoStateAdaptor::CameraEnabled() const
{
    return hub()->photoState().cameraEnabled;
}

bool PhotoStateAdaptor::Capturing() const
{
    return hub()->photoState().capturing;
}

int PhotoStateAdaptor::StreamInterval() const
{
    return hub()->photoState().streamInterval;
}

int PhotoStateAdaptor::StreamPhotos() const
{
    return hub()->photoState().streamPhotos;
}

QString PhotoStateAdaptor::LastPhoto() const
{
    return hub()->photoState().lastPhoto;
}
