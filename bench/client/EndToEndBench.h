#pragma once

#include <QtGlobal>

#include <memory>

class BenchSide;
class SignalWaiter;
class ResultTable;

// One whole photo with the camera off: TakePhoto on the daemon until
// PhotoTaken, against a client that makes the daemon's sibling calls itself,
// in the same order, on the other side's siblings and waits for CaptureDone.
// The direct client's time is also shown with a TakePhoto round trip to the
// floor added, the one call a client of any photo service has to make.
class EndToEndBench {
public:
    EndToEndBench(BenchSide& daemon, BenchSide& direct, int photos);
    ~EndToEndBench();

    bool run(ResultTable& table);

private:
    // Each gives the nanoseconds until the photo was reported and until the
    // camera was off again.
    bool photoThroughDaemon(qint64* taken, qint64* finished);
    bool photoDirect(qint64* taken, qint64* finished);

    BenchSide& m_daemon;
    BenchSide& m_direct;
    int m_photos;
    std::unique_ptr<SignalWaiter> m_photoTaken;
    std::unique_ptr<SignalWaiter> m_cameraOff;
    std::unique_ptr<SignalWaiter> m_captureDone;
};
