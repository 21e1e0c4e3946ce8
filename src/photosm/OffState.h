#pragma once

#include "photosm/PhotoSMState.h"

// The camera is off. Entering switches it off; leaving (for the on state or a capture) switches it
// on.
class OffState : public PhotoSMState {
    Q_OBJECT

public:
    OffState(PhotoManagerCtrl* controller, QState* parent);
    ~OffState() override;

protected:
    void onEntry(QEvent* event) override;
    void onExit(QEvent* event) override;
};
