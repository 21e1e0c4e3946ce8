#include "PhotoStateAdaptor.h"

PhotoStateAdaptor::PhotoStateAdaptor(DBusInterface* parent)
    : QDBusAbstractAdaptor(parent)
{
}

PhotoStateAdaptor::~PhotoStateAdaptor() = default;

QVariant PhotoStateAdaptor::value(DBusInterface::StateProperty property) const
{
    auto* hub = static_cast<DBusInterface*>(parent());
    hub->SendHeldPhotoState();
    return DBusInterface::kStateProperties[property].value(hub->photoState());
}

bool PhotoStateAdaptor::CameraManagerPresent() const
{
    return value(DBusInterface::State_CameraManagerPresent).toBool();
}

bool PhotoStateAdaptor::CameraEnabled() const
{
    return value(DBusInterface::State_CameraEnabled).toBool();
}

bool PhotoStateAdaptor::Capturing() const
{
    return value(DBusInterface::State_Capturing).toBool();
}

int PhotoStateAdaptor::StreamInterval() const
{
    return value(DBusInterface::State_StreamInterval).toInt();
}

int PhotoStateAdaptor::StreamPhotos() const
{
    return value(DBusInterface::State_StreamPhotos).toInt();
}

QString PhotoStateAdaptor::LastPhoto() const
{
    return value(DBusInterface::State_LastPhoto).toString();
}
