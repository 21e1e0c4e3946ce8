#include "PhotoSMTransDisableCamera.h"

PhotoSMTransDisableCamera::PhotoSMTransDisableCamera(QAbstractState* target)
    : PhotoSMTransition(target)
{
}

bool PhotoSMTransDisableCamera::eventTestDisableCamera(DisableCameraEvent*)
{
    return true;
}
