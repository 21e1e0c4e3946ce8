#include "EnableCameraEvent.h"

EnableCameraEvent::EnableCameraEvent()
    : QEvent(EventType)
{
}

EnableCameraEvent::~EnableCameraEvent() = default;
