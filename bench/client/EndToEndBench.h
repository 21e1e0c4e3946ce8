#pragma once

#include <QtGlobal>

#include <memory>

class BenchSide;
class SignalWaiter;
class ResultTable;

// One whole photo with the camera off: TakePhoto on the daemon until
// PhotoTaken and until the camera is off again, against two floors in turns.
// The relay exchanges the daemon's messages of a photo and does nothing
// else; its distance to the daemon is the daemon's own work. A direct client
// makes the daemon's sibling calls itself, in the same order, on the floor's
// siblings and waits for CaptureDone. The direct client's time is also shown
// with a TakePhoto round trip to the floor added, the one call a client of
// any photo service has to make.
class EndToEndBench {
public:
    EndToEndBench(BenchSide& daemon, BenchSide& direct, BenchSide& relay, int photos);
    ~EndToEndBench();

    bool run(ResultTable& table);

private:
    // The signals of one photo service that end its photo.
    struct Service {
        BenchSide& side;
        std::unique_ptr<SignalWaiter> photoTaken;
        std::unique_ptr<SignalWaiter> cameraOff;
    };

    // Each gives the nanoseconds until the photo was reported and until the
    // camera was off again.
    bool photoThrough(Service& service, qint64* taken, qint64* finished);
    bool photoDirect(qint64* taken, qint64* finished);

    Service m_daemon;
    BenchSide& m_direct;
    Service m_relay;
    int m_photos;
    std::unique_ptr<SignalWaiter> m_captureDone;
};
