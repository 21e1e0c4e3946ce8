#include "PhotoSMState.h"

PhotoSMState::PhotoSMState(PhotoManagerCtrl* controller, QState* parent)
    : QState(parent)
    , m_controller(controller)
{
}

PhotoSMState::~PhotoSMState() = default;
