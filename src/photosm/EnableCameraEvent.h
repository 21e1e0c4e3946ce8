#pragma once

#include <QEvent>

// Photo state machine input: the camera is to be switched on.
class EnableCameraEvent : public QEvent {
public:
    static const QEvent::Type EventType = static_cast<QEvent::Type>(QEvent::User + 1);

    EnableCameraEvent();
    ~EnableCameraEvent() override;
};
