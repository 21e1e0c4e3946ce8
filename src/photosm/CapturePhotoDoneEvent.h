#pragma once

#include <QEvent>

// Photo state machine input: the photo is finished, or its time is up.
class CapturePhotoDoneEvent : public QEvent {
public:
    static const QEvent::Type EventType = static_cast<QEvent::Type>(QEvent::User + 4);

    CapturePhotoDoneEvent();
    ~CapturePhotoDoneEvent() override;
};
