#include "CapturePhotoEvent.h"

CapturePhotoEvent::CapturePhotoEvent()
    : QEvent(EventType)
{
}

CapturePhotoEvent::~CapturePhotoEvent() = default;
