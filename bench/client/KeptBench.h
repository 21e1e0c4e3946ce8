#pragma once

#include "BenchSide.h"
#include "Samples.h"

#include <memory>
#include <vector>

class ResultTable;
class SignalWaiter;

// A photo as the device takes it with many photos kept: daemons whose photo
// folders were filled with 100, 10,000 and 100,000 photos first (max_photos
// set to that in their settings files), so that each photo, which the
// camera writes into the folder, makes the daemon trim one. Photo by photo
// in turns with the relay and a TakePhoto round trip to the floor: the
// photo end to end against the relay and against the 100-kept figure,
// TakePhoto's round trip against the floor's, and each daemon's resident
// memory afterwards.
class KeptBench {
public:
    KeptBench(const BenchPrograms& programs, const BenchFolders& folders, BenchSide& relay,
        BenchSide& floor, int photos, int pinnedCpu);
    ~KeptBench();

    bool run(ResultTable& table);

private:
    struct Service {
        BenchSide* side;
        int kept;
        std::unique_ptr<SignalWaiter> photoTaken;
        std::unique_ptr<SignalWaiter> cameraOff;
        Samples taken; // to PhotoTaken, us
        Samples answered; // TakePhoto's round trip, us
    };

    bool startDaemons();
    bool photoThrough(Service& service, bool measured);
    bool floorRoundTrip(bool measured);
    void addRows(ResultTable& table) const;

    BenchPrograms m_programs;
    BenchFolders m_folders;
    BenchSide& m_floor;
    int m_photos;
    int m_pinnedCpu;
    std::vector<std::unique_ptr<BenchSide>> m_daemons;
    std::vector<Service> m_services; // the daemons, then the relay
    Samples m_floorAnswered;
};
