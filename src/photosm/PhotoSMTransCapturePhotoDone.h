#pragma once

#include "photosm/CapturePhotoDoneEvent.h"
#include "photosm/PhotoSMTransition.h"

// Fires on every CapturePhotoDoneEvent.
class PhotoSMTransCapturePhotoDone : public PhotoSMTransition {
public:
    explicit PhotoSMTransCapturePhotoDone(QAbstractState* target);

protected:
    bool eventTestCapturePhotoDone(CapturePhotoDoneEvent* event) override;
};
