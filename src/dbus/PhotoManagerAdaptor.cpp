#include "PhotoManagerAdaptor.h"

#include "dbus/DBusInterface.h"

PhotoManagerAdaptor::PhotoManagerAdaptor(DBusInterface* parent)
    : QDBusAbstractAdaptor(parent)
{
    setAutoRelaySignals(true);
}

PhotoManagerAdaptor::~PhotoManagerAdaptor() = default;

DBusInterface* PhotoManagerAdaptor::hub() const
{
    return static_cast<DBusInterface*>(parent());
}

int PhotoManagerAdaptor::EnableCamera(bool Enable)
{
    return hub()->EnableCamera(Enable);
}

bool PhotoManagerAdaptor::IsEnabledCamera()
{
    return hub()->IsEnabledCamera();
}

int PhotoManagerAdaptor::StopPhotoStream()
{
    return hub()->StopPhotoStream();
}

int PhotoManagerAdaptor::TakePhoto()
{
    return hub()->TakePhoto();
}

int PhotoManagerAdaptor::TakePhotoStream(int Interval_s)
{
    return hub()->TakePhotoStream(Interval_s);
}
