#include "PhotoManagerAdaptor.h"

#include "dbus/DBusInterface.h"

PhotoManagerAdaptor::PhotoManagerAdaptor(DBusInterface* parent)
    : QDBusAbstractAdaptor(parent)
{
    setAutoRelaySignals(true);
}

PhotoManagerAdaptor::~PhotoManagerAdaptor() = default;

// A request is an event of its own: the state changes held from before it
// go out first, before any signal that it brings.
DBusInterface* PhotoManagerAdaptor::newRequest() const
{
    auto* hub = static_cast<DBusInterface*>(parent());
    hub->SendHeldPhotoState();
    return hub;
}

int PhotoManagerAdaptor::EnableCamera(bool Enable)
{
    return newRequest()->EnableCamera(Enable);
}

bool PhotoManagerAdaptor::IsEnabledCamera()
{
    return newRequest()->IsEnabledCamera();
}

int PhotoManagerAdaptor::StopPhotoStream()
{
    return newRequest()->StopPhotoStream();
}

int PhotoManagerAdaptor::TakePhoto()
{
    return newRequest()->TakePhoto();
}

int PhotoManagerAdaptor::TakePhotoStream(int Interval_s)
{
    return newRequest()->TakePhotoStream(Interval_s);
}
