#pragma once

#include "MockPeer.h"

// The daemon's three sibling services as python-dbusmock processes, with
// well-behaved defaults that a test can override method by method:
// video on/off is tracked, CaptureSingle answers 0 (and, once
// captureWrites() is called, writes the file and emits CaptureDone), the RGB
// feature manager tracks its flag, and the status manager reports power.
class SiblingMocks {
public:
    SiblingMocks();

    bool start();
    // Puts the default behaviour back and forgets the calls made so far.
    bool reset();
    // CaptureSingle writes the file and then emits CaptureDone(0, path).
    // The daemon's paths under /opt/quor/data are mapped to dataDir, where a
    // daemon in a private mount namespace sees its /opt/quor/data.
    bool captureWrites(const QString& dataDir = QString());
    bool setPower(bool power, int status = 0);

    MockPeer camera;
    MockPeer rgb;
    MockPeer status;

    static const char* const cameraService;
    static const char* const cameraPath;
    static const char* const rgbService;
    static const char* const rgbPath;
};
