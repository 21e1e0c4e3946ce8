#include "FloorAdaptor.h"

FloorAdaptor::FloorAdaptor(QObject* parent)
    : QDBusAbstractAdaptor(parent)
{
}

FloorAdaptor::~FloorAdaptor() = default;

int FloorAdaptor::EnableCamera(bool)
{
    return 0;
}

bool FloorAdaptor::IsEnabledCamera()
{
    return false;
}

// The daemon sends PhotoStreamStopped before this reply; so does the floor.
int FloorAdaptor::StopPhotoStream()
{
    emit PhotoStreamStopped(0);
    return 0;
}

int FloorAdaptor::TakePhoto()
{
    return 0;
}

int FloorAdaptor::TakePhotoStream(int)
{
    return 0;
}
