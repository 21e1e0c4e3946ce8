#pragma once

#include <QEvent>

// Photo state machine input: a photo is to be taken.
class CapturePhotoEvent : public QEvent {
public:
    static const QEvent::Type EventType = static_cast<QEvent::Type>(QEvent::User + 3);

    CapturePhotoEvent();
    ~CapturePhotoEvent() override;
};
