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

bool isStatusZero(const QDBusMessage& reply)
{
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1
        && reply.arguments().first() == QVariant(0);
}
} // namespace

EndToEndBench::EndToEndBench(BenchSide& daemon, BenchSide& direct, int photos)
    : m_daemon(daemon)
    , m_direct(direct)
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
    m_photoTaken = std::make_unique<SignalWaiter>(
        m_daemon.connection(), path, interface, QStringLiteral("PhotoTaken"));
    m_cameraOff = std::make_unique<SignalWaiter>(
        m_daemon.connection(), path, interface, QStringLiteral("CameraEnabled"), QVariant(false));
    m_captureDone = std::make_unique<SignalWaiter>(m_direct.connection(),
        QString::fromLatin1(BusNames::kCameraPath), QString::fromLatin1(BusNames::kCameraInterface),
        QStringLiteral("CaptureDone"));
    if (!m_photoTaken->isConnected() || !m_cameraOff->isConnected()
        || !m_captureDone->isConnected())
        return false;

    // The direct client's turn also asks the floor for TakePhoto first: a
    // second baseline that includes the client's own call to the service.
    const QDBusMessage floorTakePhoto = BenchSide::photoCall(QStringLiteral("TakePhoto"));
    Samples taken[2];
    Samples finished[2];
    Samples takenWithCall;
    for (int i = 0; i < kWarmUpPhotos + m_photos; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            const int s = (i + turn) % 2;
            qint64 toTaken = 0;
            qint64 toFinished = 0;
            qint64 floorCall = 0;
            if (s == 1) {
                const qint64 start = nowNs();
                const bool answered = isStatusZero(
                    m_direct.connection().call(floorTakePhoto, QDBus::Block, kCallTimeoutMs));
                floorCall = answered ? nowNs() - start : -1;
            }
            const bool ok = floorCall >= 0
                && (s == 0 ? photoThroughDaemon(&toTaken, &toFinished)
                           : photoDirect(&toTaken, &toFinished));
            if (!ok) {
                std::fprintf(stderr, "bench: a photo %s failed\n",
                    s == 0 ? "through the daemon" : "by the direct client");
                return false;
            }
            if (i >= kWarmUpPhotos) {
                taken[s].add(static_cast<double>(toTaken) / 1000.0);
                finished[s].add(static_cast<double>(toFinished) / 1000.0);
                if (s == 1)
                    takenWithCall.add(static_cast<double>(floorCall + toTaken) / 1000.0);
            }
        }
    }
    table.add(QStringLiteral("photo end to end (to PhotoTaken), median"), QStringLiteral("us"),
        taken[0].median(), taken[1].median(), ResultTable::Goal::AtMost, 1.25);
    table.add(QStringLiteral("photo end to end (to PhotoTaken), p99"), QStringLiteral("us"),
        taken[0].percentile(99), taken[1].percentile(99), ResultTable::Goal::AtMost, 1.25);
    table.add(QStringLiteral("photo end to end vs floor TakePhoto + direct, median"),
        QStringLiteral("us"), taken[0].median(), takenWithCall.median(), ResultTable::Goal::AtMost,
        1.25);
    table.add(QStringLiteral("photo until camera off again, median"), QStringLiteral("us"),
        finished[0].median(), finished[1].median(), ResultTable::Goal::AtMost, 1.25);
    return true;
}

bool EndToEndBench::photoThroughDaemon(qint64* taken, qint64* finished)
{
    QDBusConnection bus = m_daemon.connection();
    const QDBusMessage takePhoto = BenchSide::photoCall(QStringLiteral("TakePhoto"));
    const int photos = m_photoTaken->count();
    const int cameraOffs = m_cameraOff->count();

    const qint64 start = nowNs();
    if (!isStatusZero(bus.call(takePhoto, QDBus::Block, kCallTimeoutMs))
        || !m_photoTaken->waitFor(photos + 1) || !m_cameraOff->waitFor(cameraOffs + 1))
        return false;
    *taken = m_photoTaken->lastNs() - start;
    *finished = m_cameraOff->lastNs() - start;
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
    if (!isStatusZero(bus.call(BenchSide::cameraCall(QStringLiteral("VideoSetActive"), {true}),
            QDBus::Block, kCallTimeoutMs)))
        return false;
    const QDBusMessage disabled
        = bus.call(BenchSide::rgbCall(QStringLiteral("IsDisabled")), QDBus::Block, kCallTimeoutMs);
    if (disabled.type() != QDBusMessage::ReplyMessage || disabled.arguments().size() != 1
        || disabled.arguments().first().toBool())
        return false;
    if (!isStatusZero(bus.call(BenchSide::rgbCall(QStringLiteral("Disable"), {true, false}),
            QDBus::Block, kCallTimeoutMs))
        || !isStatusZero(
            bus.call(BenchSide::cameraCall(QStringLiteral("CaptureSingle"), {imagePath}),
                QDBus::Block, kCallTimeoutMs))
        || !isStatusZero(bus.call(BenchSide::rgbCall(QStringLiteral("Disable"), {false, false}),
            QDBus::Block, kCallTimeoutMs))
        || !m_captureDone->waitFor(captures + 1))
        return false;
    *taken = m_captureDone->lastNs() - start;
    if (!isStatusZero(bus.call(BenchSide::cameraCall(QStringLiteral("VideoSetActive"), {false}),
            QDBus::Block, kCallTimeoutMs)))
        return false;
    *finished = nowNs() - start;
    return true;
}
