#pragma once

#include "photosm/CapturePhotoEvent.h"
#include "photosm/PhotoSMTransition.h"

// Fires on every CapturePhotoEvent.
class PhotoSMTransCapturePhoto : public PhotoSMTransition {
public:
    explicit PhotoSMTransCapturePhoto(QAbstractState* target);

protected:
    bool eventTestCapturePhoto(CapturePhotoEvent* event) override;
};
