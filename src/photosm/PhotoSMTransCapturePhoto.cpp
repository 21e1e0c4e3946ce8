#include "PhotoSMTransCapturePhoto.h"

PhotoSMTransCapturePhoto::PhotoSMTransCapturePhoto(QAbstractState* target)
    : PhotoSMTransition(target)
{
}

bool PhotoSMTransCapturePhoto::eventTestCapturePhoto(CapturePhotoEvent*)
{
    return true;
}
