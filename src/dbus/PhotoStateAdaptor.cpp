#include "PhotoStateAdaptor.h"

PhotoStateAdaptor::PhotoStateAdaptor(DBusInterface* parent)
    : QDBusAbstractAdaptor(parent)
{
}

PhotoStateAdaptor::~PhotoStateAdaptor() = default;

const DBusInterface::PhotoState& PhotoStateAdaptor::state() const
{
    auto* hub = static_cast<DBusInterface*>(parent());
    hub->SendHeldPhotoState();
    return hub->photoState();
}

bool PhotoStateAdaptor::CameraManagerPresent() const
{
    return state().cameraManagerPresent;
}

bool PhotoStateAdaptor::CameraEnabled() const
{
    return state().cameraEnabled;
}

bool PhotoStateAdaptor::Capturing() const
{
    return state().capturing;
}

int PhotoStateAdaptor::StreamInterval() const
{
    return state().streamInterval;
}

int PhotoStateAdaptor::StreamPhotos() const
{
    return state().streamPhotos;
}

QString PhotoStateAdaptor::LastPhoto() const
{
    return state().lastPhoto;
}
