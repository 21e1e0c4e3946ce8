#include "EndToEndBench.h"

#include "BenchSide.h"
#include "Clock.h"
#include "ResultTable.h"
#include "Samples.h"
#include "SignalWaiter.h"

#include <cstdio>
#include <memory>

namespace {
const int kCallTimeoutMs = 10000;
const int kWarmUpPhotos = 20;
} // namespace

EndToEndBench::EndToEndBench(BenchSide& daemon, BenchSide& direct, BenchSide& relay, int photos)
    : m_daemon{daemon, nullptr, nullptr}
    , m_direct(direct)
    , m_relay{relay, nullptr, nullptr}
    , m_photos(photos)
{
}

EndToEndBench::~EndToEndBench() = default;

bool EndToEndBench::run(ResultTable& table)
{
    std::fprintf(stderr, "bench: photos end to end\n");
    // Subscribed once, so that no match rule changes on the bus during a photo.
    const QString path = QString::fromLatin1(BusNames::kPhotoPath);
    const QString interface = QString::fromLatin1(BusNames::kPhotoInterface);
    for (Service* service : {&m_daemon, &m_relay}) {
        const QDBusConnection bus = service->side.connection();
        service->photoTaken
            = std::make_unique<SignalWaiter>(bus, path, interface, QStringLiteral("PhotoTaken"));
        service->cameraOff = std::make_unique<SignalWaiter>(
            bus, path, interface, QStringLiteral("CameraEnabled"), QVariant(false));
        if (!service->photoTaken->isConnected() || !service->cameraOff->isConnected())
            return false;
    }
    m_captureDone = std::make_unique<SignalWaiter>(m_direct.connection(),
        QString::fromLatin1(BusNames::kCameraPath), QString::fromLatin1(BusNames::kCameraInterface),
        QStringLiteral("CaptureDone"));
    if (!m_captureDone->isConnected())
        return false;

    // The direct client's turn also asks the floor for TakePhoto first: a
    // second baseline that includes the client's own call to the service.
    const QDBusMessage floorTakePhoto = BenchSide::photoCall(QStringLiteral("TakePhoto"));
    enum { kDaemon, kDirect, kRelay, kWays };
    const char* const names[kWays] = {"through the daemon", "by the direct client", "by the relay"};
    Samples taken[kWays];
    Samples finished[kWays];
    Samples takenWithCall;
    for (int i = 0; i < kWarmUpPhotos + m_photos; ++i) {
        for (int turn = 0; turn < kWays; ++turn) {
            const int s = (i + turn) % kWays;
            qint64 toTaken = 0;
            qint64 toFinished = 0;
            qint64 floorCall = 0;
            if (s == kDirect) {
                const qint64 start = nowNs();
                const bool answered = BenchSide::isStatusZero(
                    m_direct.connection().call(floorTakePhoto, QDBus::Block, kCallTimeoutMs));
                floorCall = answered ? nowNs() - start : -1;
            }
            const bool ok = floorCall >= 0
                && (s == kDirect
                        ? photoDirect(&toTaken, &toFinished)
                        : photoThrough(s == kDaemon ? m_daemon : m_relay, &toTaken, &toFinished));
            if (!ok) {
                std::fprintf(stderr, "bench: a photo %s failed\n", names[s]);
                return false;
            }
            if (i >= kWarmUpPhotos) {
                taken[s].add(static_cast<double>(toTaken) / 1000.0);
                finished[s].add(static_cast<double>(toFinished) / 1000.0);
                if (s == kDirect)
                    takenWithCall.add(static_cast<double>(floorCall + toTaken) / 1000.0);
            }
        }
    }
    table.add(QStringLiteral("photo end to end (to PhotoTaken), median"), QStringLiteral("us"),
        taken[kDaemon].median(), taken[kDirect].median(), ResultTable::Goal::AtMost, 1.25);
    table.add(QStringLiteral("photo end to end (to PhotoTaken), p99"), QStringLiteral("us"),
        taken[kDaemon].percentile(99), taken[kDirect].percentile(99), ResultTable::Goal::AtMost,
        1.25);
    table.add(QStringLiteral("photo end to end vs floor TakePhoto + direct, median"),
        QStringLiteral("us"), taken[kDaemon].median(), takenWithCall.median(),
        ResultTable::Goal::AtMost, 1.25);
    table.add(QStringLiteral("photo until camera off again, median"), QStringLiteral("us"),
        finished[kDaemon].median(), finished[kDirect].median(), ResultTable::Goal::AtMost, 1.25);
    // The daemon's own work per photo, against the same messages without it.
    table.add(QStringLiteral("daemon/relay photo end to end (to PhotoTaken), median"),
        QStringLiteral("us"), taken[kDaemon].median(), taken[kRelay].median(),
        ResultTable::Goal::AtMost, 1.10);
    table.add(QStringLiteral("daemon/relay photo end to end (to PhotoTaken), p99"),
        QStringLiteral("us"), taken[kDaemon].percentile(99), taken[kRelay].percentile(99),
        ResultTable::Goal::AtMost, 1.10);
    table.add(QStringLiteral("daemon/relay photo until camera off again, median"),
        QStringLiteral("us"), finished[kDaemon].median(), finished[kRelay].median(),
        ResultTable::Goal::AtMost, 1.10);
    return true;
}

bool EndToEndBench::photoThrough(Service& service, qint64* taken, qint64* finished)
{
    QDBusConnection bus = service.side.connection();
    const QDBusMessage takePhoto = BenchSide::photoCall(QStringLiteral("TakePhoto"));
    const int photos = service.photoTaken->count();
    const int cameraOffs = service.cameraOff->count();

    const qint64 start = nowNs();
    if (!BenchSide::isStatusZero(bus.call(takePhoto, QDBus::Block, kCallTimeoutMs))
        || !service.photoTaken->waitFor(photos + 1) || !service.cameraOff->waitFor(cameraOffs + 1))
        return false;
    *taken = service.photoTaken->lastNs() - start;
    *finished = service.cameraOff->lastNs() - start;
    return true;
}

// The daemon's capture sequence, from outside: camera on, RGB off for the
// photo, capture, RGB back on, wait for the capture, camera off.
bool EndToEndBench::photoDirect(qint64* taken, qint64* finished)
{
    QDBusConnection bus = m_direct.connection();
    const int captures = m_captureDone->count();
    const QString imagePath = QStringLiteral("/opt/quor/data/photo/image_20260101000000.jpg");

    const qint64 start = nowNs();
    if (!BenchSide::isStatusZero(
            bus.call(BenchSide::cameraCall(QStringLiteral("VideoSetActive"), {true}), QDBus::Block,
                kCallTimeoutMs)))
        return false;
    const QDBusMessage disabled
        = bus.call(BenchSide::rgbCall(QStringLiteral("IsDisabled")), QDBus::Block, kCallTimeoutMs);
    if (disabled.type() != QDBusMessage::ReplyMessage || disabled.arguments().size() != 1
        || disabled.arguments().constFirst().toBool())
        return false;
    if (!BenchSide::isStatusZero(
            bus.call(BenchSide::rgbCall(QStringLiteral("Disable"), {true, false}), QDBus::Block,
                kCallTimeoutMs))
        || !BenchSide::isStatusZero(
            bus.call(BenchSide::cameraCall(QStringLiteral("CaptureSingle"), {imagePath}),
                QDBus::Block, kCallTimeoutMs))
        || !BenchSide::isStatusZero(
            bus.call(BenchSide::rgbCall(QStringLiteral("Disable"), {false, false}), QDBus::Block,
                kCallTimeoutMs))
        || !m_captureDone->waitFor(captures + 1))
        return false;
    *taken = m_captureDone->lastNs() - start;
    if (!BenchSide::isStatusZero(
            bus.call(BenchSide::cameraCall(QStringLiteral("VideoSetActive"), {false}), QDBus::Block,
                kCallTimeoutMs)))
        return false;
    *finished = nowNs() - start;
    return true;
}
