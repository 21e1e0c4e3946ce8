#include "KeptBench.h"

#include "Clock.h"
#include "CpuPinning.h"
#include "ResultTable.h"
#include "SignalWaiter.h"

#include <cstdio>

namespace {
const int kCallTimeoutMs = 10000;
const int kWarmUpPhotos = 20;
const int kKept[] = {100, 10000, 100000};
// Resident memory at 10,000 kept may be this much above that at 100.
const double kMemoryAllowanceKiB = 3 * 1024;

double microseconds(qint64 ns)
{
    return static_cast<double>(ns) / 1000.0;
}
} // namespace

KeptBench::KeptBench(const BenchPrograms& programs, const BenchFolders& folders, BenchSide& relay,
    BenchSide& floor, int photos, int pinnedCpu)
    : m_programs(programs)
    , m_folders(folders)
    , m_floor(floor)
    , m_photos(photos)
    , m_pinnedCpu(pinnedCpu)
{
    for (const int kept : kKept) {
        m_daemons.push_back(
            std::make_unique<BenchSide>(BenchSide::Kind::Daemon, programs, folders));
        m_services.push_back({m_daemons.back().get(), kept, nullptr, nullptr, {}, {}});
    }
    m_services.push_back({&relay, 0, nullptr, nullptr, {}, {}});
}

KeptBench::~KeptBench() = default;

bool KeptBench::startDaemons()
{
    for (Service& service : m_services) {
        if (service.kept > 0) {
            std::fprintf(stderr, "bench: a daemon with %d photos kept\n", service.kept);
            if (!service.side->start(service.kept, service.kept))
                return false;
            if (m_pinnedCpu >= 0 && !CpuPinning::allPinnedTo(service.side->pids(), m_pinnedCpu))
                return false;
        }
        const QString path = QString::fromLatin1(BusNames::kPhotoPath);
        const QString interface = QString::fromLatin1(BusNames::kPhotoInterface);
        service.photoTaken = std::make_unique<SignalWaiter>(
            service.side->connection(), path, interface, QStringLiteral("PhotoTaken"));
        service.cameraOff = std::make_unique<SignalWaiter>(service.side->connection(), path,
            interface, QStringLiteral("CameraEnabled"), QVariant(false));
        if (!service.photoTaken->isConnected() || !service.cameraOff->isConnected())
            return false;
    }
    return true;
}

bool KeptBench::run(ResultTable& table)
{
    std::fprintf(stderr, "bench: photos with 100, 10,000 and 100,000 kept\n");
    if (!startDaemons()) {
        std::fprintf(stderr, "bench: the daemons with photos kept did not come up\n");
        return false;
    }
    const int ways = static_cast<int>(m_services.size()) + 1; // and the floor
    for (int i = 0; i < kWarmUpPhotos + m_photos; ++i) {
        for (int turn = 0; turn < ways; ++turn) {
            const int s = (i + turn) % ways;
            const bool measured = i >= kWarmUpPhotos;
            const bool ok = s == ways - 1
                ? floorRoundTrip(measured)
                : photoThrough(m_services[static_cast<size_t>(s)], measured);
            if (!ok) {
                std::fprintf(stderr, "bench: a photo with photos kept failed\n");
                return false;
            }
        }
    }
    addRows(table);
    return true;
}

// The next photo waits until the camera is off again: the camera's file is
// then in the folder, for the next TakePhoto to trim, and no side's work of
// one photo runs into the next side's figures.
bool KeptBench::photoThrough(Service& service, bool measured)
{
    QDBusConnection bus = service.side->connection();
    const int photos = service.photoTaken->count();
    const int cameraOffs = service.cameraOff->count();
    const qint64 start = nowNs();
    const QDBusMessage reply
        = bus.call(BenchSide::photoCall(QStringLiteral("TakePhoto")), QDBus::Block, kCallTimeoutMs);
    const qint64 answered = nowNs();
    if (!BenchSide::isStatusZero(reply) || !service.photoTaken->waitFor(photos + 1)
        || !service.cameraOff->waitFor(cameraOffs + 1))
        return false;
    if (measured) {
        service.answered.add(microseconds(answered - start));
        service.taken.add(microseconds(service.photoTaken->lastNs() - start));
    }
    return true;
}

bool KeptBench::floorRoundTrip(bool measured)
{
    const qint64 start = nowNs();
    const QDBusMessage reply = m_floor.connection().call(
        BenchSide::photoCall(QStringLiteral("TakePhoto")), QDBus::Block, kCallTimeoutMs);
    if (measured)
        m_floorAnswered.add(microseconds(nowNs() - start));
    return BenchSide::isStatusZero(reply);
}

void KeptBench::addRows(ResultTable& table) const
{
    const Service& hundred = m_services.front();
    const Service& relay = m_services.back();
    const double hundredKiB = static_cast<double>(hundred.side->service().residentKiB());
    for (const Service& service : m_services) {
        if (service.kept == 0)
            continue;
        const QString kept = QStringLiteral("%1 kept").arg(service.kept);
        table.add(QStringLiteral("photo end to end, %1, daemon/relay, median").arg(kept),
            QStringLiteral("us"), service.taken.median(), relay.taken.median(),
            service.kept == 100 ? ResultTable::Goal::AtMost : ResultTable::Goal::None, 1.10);
        if (service.kept != 100)
            table.add(QStringLiteral("photo end to end, %1 vs 100 kept, median").arg(kept),
                QStringLiteral("us"), service.taken.median(), hundred.taken.median(),
                ResultTable::Goal::AtMost, 1.05);
        table.add(QStringLiteral("round trip TakePhoto, %1, vs floor, median").arg(kept),
            QStringLiteral("us"), service.answered.median(), m_floorAnswered.median(),
            ResultTable::Goal::AtMost, 1.5);
        const double residentKiB = static_cast<double>(service.side->service().residentKiB());
        table.add(QStringLiteral("resident memory, %1 vs 100 kept").arg(kept),
            QStringLiteral("KiB"), residentKiB, hundredKiB);
        if (service.kept == 10000)
            table.add(QStringLiteral("resident memory above 100 kept, %1, vs 3 MiB").arg(kept),
                QStringLiteral("KiB"), residentKiB - hundredKiB, kMemoryAllowanceKiB,
                ResultTable::Goal::AtMost, 1.0);
    }
}
