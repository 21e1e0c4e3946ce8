#pragma once

#include <QAbstractTransition>

class CapturePhotoDoneEvent;
class CapturePhotoEvent;
class DisableCameraEvent;
class EnableCameraEvent;

// Base of the photo state machine's transitions. It dispatches by event type
// number (1001 to 1004) to one test and one action per photo event; by
// default no test accepts and no action does anything.
class PhotoSMTransition : public QAbstractTransition {
    Q_OBJECT

public:
    explicit PhotoSMTransition(QAbstractState* target);
    ~PhotoSMTransition() override;

protected:
    bool eventTest(QEvent* event) override;
    void onTransition(QEvent* event) override;

    virtual bool eventTestEnableCamera(EnableCameraEvent* event);
    virtual bool eventTestDisableCamera(DisableCameraEvent* event);
    virtual bool eventTestCapturePhoto(CapturePhotoEvent* event);
    virtual bool eventTestCapturePhotoDone(CapturePhotoDoneEvent* event);
    virtual void onTransitionEnableCamera(EnableCameraEvent* event);
    virtual void onTransitionDisableCamera(DisableCameraEvent* event);
    virtual void onTransitionCapturePhoto(CapturePhotoEvent* event);
    virtual void onTransitionCapturePhotoDone(CapturePhotoDoneEvent* event);
};
