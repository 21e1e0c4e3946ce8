#pragma once

#include "photosm/PhotoSMState.h"

// The camera is on at a client's request; a capture from here leaves it on.
class OnState : public PhotoSMState {
    Q_OBJECT

public:
    OnState(PhotoManagerCtrl* controller, QState* parent);
    ~OnState() override;

protected:
    void onEntry(QEvent* event) override;
    void onExit(QEvent* event) override;
};
