#include "OnState.h"

#include "common/Log.h"

OnState::OnState(PhotoManagerCtrl* controller, QState* parent)
    : PhotoSMState(controller, parent)
{
}

OnState::~OnState() = default;

void OnState::onEntry(QEvent*)
{
    PM_LOG(9, "[%s:%d] %s: OnState::onEntry");
}

void OnState::onExit(QEvent*)
{
    PM_LOG(9, "[%s:%d] %s: OnState::onExit");
}
