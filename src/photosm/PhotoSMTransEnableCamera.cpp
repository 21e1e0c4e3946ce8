#include "PhotoSMTransEnableCamera.h"

PhotoSMTransEnableCamera::PhotoSMTransEnableCamera(QAbstractState* target)
    : PhotoSMTransition(target)
{
}

bool PhotoSMTransEnableCamera::eventTestEnableCamera(EnableCameraEvent*)
{
    return true;
}
