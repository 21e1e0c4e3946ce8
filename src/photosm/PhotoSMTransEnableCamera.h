#pragma once

#include "photosm/EnableCameraEvent.h"
#include "photosm/PhotoSMTransition.h"

// Fires on every EnableCameraEvent.
class PhotoSMTransEnableCamera : public PhotoSMTransition {
public:
    explicit PhotoSMTransEnableCamera(QAbstractState* target);

protected:
    bool eventTestEnableCamera(EnableCameraEvent* event) override;
};
