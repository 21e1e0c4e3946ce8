#pragma once

#include "photosm/DisableCameraEvent.h"
#include "photosm/PhotoSMTransition.h"

// Fires on every DisableCameraEvent.
class PhotoSMTransDisableCamera : public PhotoSMTransition {
public:
    explicit PhotoSMTransDisableCamera(QAbstractState* target);

protected:
    bool eventTestDisableCamera(DisableCameraEvent* event) override;
};
