#include "OffState.h"

#include "PhotoManagerCtrl.h"
#include "common/Log.h"

OffState::OffState(PhotoManagerCtrl* controller, QState* parent)
    : PhotoSMState(controller, parent)
{
}

OffState::~OffState() = default;

void OffState::onEntry(QEvent*)
{
    PM_LOG(9, "[%s:%d] %s: OffState::onEntry");
    m_controller->DisableCamera();
}

void OffState::onExit(QEvent*)
{
    PM_LOG(9, "[%s:%d] %s: OffState::onExit");
    m_controller->EnableCamera();
}
