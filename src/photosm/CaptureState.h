#pragma once

#include "photosm/PhotoSMState.h"

// A photo is being taken. Entering starts the capture guard and requests the photo; leaving stops
// the guard.
class CaptureState : public PhotoSMState {
    Q_OBJECT

public:
    CaptureState(PhotoManagerCtrl* controller, QState* parent);
    ~CaptureState() override;

protected:
    void onEntry(QEvent* event) override;
    void onExit(QEvent* event) override;
};
