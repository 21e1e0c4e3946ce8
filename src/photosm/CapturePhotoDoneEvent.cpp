#include "CapturePhotoDoneEvent.h"

CapturePhotoDoneEvent::CapturePhotoDoneEvent()
    : QEvent(EventType)
{
}

CapturePhotoDoneEvent::~CapturePhotoDoneEvent() = default;
