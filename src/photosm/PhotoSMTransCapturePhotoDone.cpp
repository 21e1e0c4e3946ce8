#include "PhotoSMTransCapturePhotoDone.h"

PhotoSMTransCapturePhotoDone::PhotoSMTransCapturePhotoDone(QAbstractState* target)
    : PhotoSMTransition(target)
{
}

bool PhotoSMTransCapturePhotoDone::eventTestCapturePhotoDone(CapturePhotoDoneEvent*)
{
    return true;
}
