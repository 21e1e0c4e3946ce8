#pragma once

#include <QEvent>

// Photo state machine input: the camera is to be switched off.
class DisableCameraEvent : public QEvent {
public:
    static const QEvent::Type EventType = static_cast<QEvent::Type>(QEvent::User + 2);

    DisableCameraEvent();
    ~DisableCameraEvent() override;
};
