#pragma once

#include <QState>

class PhotoManagerCtrl;

// Base of the photo states: each does its work by calling back into the
// controller that built it.
class PhotoSMState : public QState {
    Q_OBJECT

public:
    PhotoSMState(PhotoManagerCtrl* controller, QState* parent);
    ~PhotoSMState() override;

protected:
    PhotoManagerCtrl* m_controller; // not owned
};
