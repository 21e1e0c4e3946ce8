#include "CaptureState.h"

#include "PhotoManagerCtrl.h"
#include "common/Log.h"

CaptureState::CaptureState(PhotoManagerCtrl* controller, QState* parent)
    : PhotoSMState(controller, parent)
{
}

CaptureState::~CaptureState() = default;

void CaptureState::onEntry(QEvent*)
{
    PM_LOG(9, "[%s:%d] %s: CaptureState::onEntry");
    m_controller->StartCapturePhotoTimer();
    m_controller->CapturePhoto();
}

void CaptureState::onExit(QEvent*)
{
    PM_LOG(9, "[%s:%d] %s: CaptureState::onExit");
    m_controller->StopCapturePhotoTimer();
}
