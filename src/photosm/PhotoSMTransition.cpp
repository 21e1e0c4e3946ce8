#include "PhotoSMTransition.h"

#include "photosm/CapturePhotoDoneEvent.h"
#include "photosm/CapturePhotoEvent.h"
#include "photosm/DisableCameraEvent.h"
#include "photosm/EnableCameraEvent.h"

PhotoSMTransition::PhotoSMTransition(QAbstractState* target)
    : QAbstractTransition()
{
    if (target)
        setTargetState(target);
}

PhotoSMTransition::~PhotoSMTransition() = default;

// The type number alone decides; a plain QEvent of a photo type is passed on
// as a null pointer of the matching class.
bool PhotoSMTransition::eventTest(QEvent* event)
{
    switch (static_cast<int>(event->type())) {
    case EnableCameraEvent::EventType:
        return eventTestEnableCamera(dynamic_cast<EnableCameraEvent*>(event));
    case DisableCameraEvent::EventType:
        return eventTestDisableCamera(dynamic_cast<DisableCameraEvent*>(event));
    case CapturePhotoEvent::EventType:
        return eventTestCapturePhoto(dynamic_cast<CapturePhotoEvent*>(event));
    case CapturePhotoDoneEvent::EventType:
        return eventTestCapturePhotoDone(dynamic_cast<CapturePhotoDoneEvent*>(event));
    default:
        return false;
    }
}

void PhotoSMTransition::onTransition(QEvent* event)
{
    switch (static_cast<int>(event->type())) {
    case EnableCameraEvent::EventType:
        onTransitionEnableCamera(dynamic_cast<EnableCameraEvent*>(event));
        break;
    case DisableCameraEvent::EventType:
        onTransitionDisableCamera(dynamic_cast<DisableCameraEvent*>(event));
        break;
    case CapturePhotoEvent::EventType:
        onTransitionCapturePhoto(dynamic_cast<CapturePhotoEvent*>(event));
        break;
    case CapturePhotoDoneEvent::EventType:
        onTransitionCapturePhotoDone(dynamic_cast<CapturePhotoDoneEvent*>(event));
        break;
    default:
        break;
    }
}

bool PhotoSMTransition::eventTestEnableCamera(EnableCameraEvent*)
{
    return false;
}

bool PhotoSMTransition::eventTestDisableCamera(DisableCameraEvent*)
{
    return false;
}

bool PhotoSMTransition::eventTestCapturePhoto(CapturePhotoEvent*)
{
    return false;
}

bool PhotoSMTransition::eventTestCapturePhotoDone(CapturePhotoDoneEvent*)
{
    return false;
}

void PhotoSMTransition::onTransitionEnableCamera(EnableCameraEvent*) { }

void PhotoSMTransition::onTransitionDisableCamera(DisableCameraEvent*) { }

void PhotoSMTransition::onTransitionCapturePhoto(CapturePhotoEvent*) { }

void PhotoSMTransition::onTransitionCapturePhotoDone(CapturePhotoDoneEvent*) { }
