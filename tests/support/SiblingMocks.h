#pragma once

#include "MockPeer.h"

// The three siblings as dbusmock processes with well-behaved defaults that a
// test overrides method by method: video on/off and the RGB flag are
// tracked, CaptureSingle answers 0, the status manager reports power.
class SiblingMocks {
public:
    SiblingMocks();
    bool start();
    // Default behaviour back, calls forgotten; a stopped peer is started again.
    bool reset();
    // CaptureSingle then writes the file and emits CaptureDone(0, path); the
    // daemon's /opt/quor/data is dataDir here, outside its namespace.
    bool captureWrites(const QString& dataDir);

    MockPeer camera, rgb, status;
};
