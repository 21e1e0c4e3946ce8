#include "DisableCameraEvent.h"

DisableCameraEvent::DisableCameraEvent()
    : QEvent(EventType)
{
}

DisableCameraEvent::~DisableCameraEvent() = default;
