#include "LatencyBench.h"

#include "BenchSide.h"
#include "Clock.h"
#include "ResultTable.h"
#include "Samples.h"
#include "SignalWaiter.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace {
const int kCallTimeoutMs = 10000;
// Unmeasured calls at the start of each method, to warm both sides.
const int kWarmUpCalls = 100;
// A device's settings file: the user setting and the photo folder's limits,
// here at their defaults, so that only the file's presence differs.
const char kSettings[] = "[IPCAMERA]\nuser_enabled=0\n[PHOTOMANAGER]\nmax_photos=100\n"
                         "max_megabytes=0\nmin_free_megabytes=0\n";
// Rounds between the settings file's comings and goings.
const int kSettingsRounds = 50;
} // namespace

LatencyBench::LatencyBench(BenchSide& daemon, BenchSide& floor, int callsPerMethod)
    : m_daemon(daemon)
    , m_floor(floor)
    , m_callsPerMethod(callsPerMethod)
    , m_callsMade(0)
{
}

void LatencyBench::setMethods(const QStringList& names)
{
    m_methods = names;
}

int LatencyBench::callsMade() const
{
    return m_callsMade;
}

bool LatencyBench::run(ResultTable& table)
{
    const Method methods[] = {
        {QStringLiteral("StopPhotoStream"), QStringLiteral("StopPhotoStream"), {}, 0, false, false},
        {QStringLiteral("EnableCamera(false)"), QStringLiteral("EnableCamera"), {false}, 0, false,
            false},
        {QStringLiteral("IsEnabledCamera"), QStringLiteral("IsEnabledCamera"), {}, false, true,
            false},
        {QStringLiteral("TakePhoto, 100 files"), QStringLiteral("TakePhoto"), {}, 0, false, false},
        {QStringLiteral("TakePhoto, 100 files, settings.ini"), QStringLiteral("TakePhoto"), {}, 0,
            false, true},
    };
    for (const Method& method : methods) {
        if (!m_methods.isEmpty() && !m_methods.contains(method.name))
            continue;
        if (!measure(method, table))
            return false;
    }
    return true;
}

// The daemon's /opt/quor/data/config/settings.ini, seen from outside its
// mount namespace.
bool LatencyBench::writeSettings(bool present) const
{
    QFile file(QFileInfo(m_daemon.photoDir()).path() + QStringLiteral("/config/settings.ini"));
    if (!present)
        return !file.exists() || file.remove();
    return file.open(QIODevice::WriteOnly)
        && file.write(kSettings) == static_cast<qint64>(sizeof kSettings - 1);
}

bool LatencyBench::measure(const Method& method, ResultTable& table)
{
    std::fprintf(stderr, "bench: round trips of %s\n", qPrintable(method.label));
    const QDBusMessage call = BenchSide::photoCall(method.name, method.args);
    // A photo goes on in the daemon after its reply; the next call waits until
    // the camera is off again, so each round trip is measured on an idle daemon.
    const bool photo = method.name == QLatin1String("TakePhoto");
    std::unique_ptr<SignalWaiter> cameraOff;
    if (photo)
        cameraOff = std::make_unique<SignalWaiter>(m_daemon.connection(),
            QString::fromLatin1(BusNames::kPhotoPath),
            QString::fromLatin1(BusNames::kPhotoInterface), QStringLiteral("CameraEnabled"),
            QVariant(false));

    // The daemon answers IsEnabledCamera from the camera manager; the floor
    // cannot. Its turn also asks the camera manager directly, which gives a
    // second floor: the floor's round trip plus that one.
    const QDBusMessage askCamera = BenchSide::cameraCall(QStringLiteral("VideoGetActive"));
    Samples samples[2];
    Samples floorWithCamera;
    // With the settings file present: the daemon's round trips. The file
    // comes and goes every kSettingsRounds rounds, so that both kinds of
    // round share the machine's moments; the round after each change, when
    // the daemon reads the file, is not counted.
    Samples withSettings;
    bool settingsPresent = false;
    BenchSide* sides[2] = {&m_daemon, &m_floor};
    const int total = kWarmUpCalls + m_callsPerMethod;
    for (int n = 0; n < total; ++n) {
        const bool settingsChange = method.togglesSettings && n % kSettingsRounds == 0;
        if (settingsChange) {
            settingsPresent = !settingsPresent;
            if (!writeSettings(settingsPresent))
                return false;
        }
        // AB, then BA: neither side always goes first.
        for (int turn = 0; turn < 2; ++turn) {
            const int s = (n + turn) % 2;
            QDBusConnection connection = sides[s]->connection();
            const qint64 start = nowNs();
            const QDBusMessage reply = connection.call(call, QDBus::Block, kCallTimeoutMs);
            const qint64 end = nowNs();
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1
                || reply.arguments().constFirst() != method.reply) {
                std::fprintf(stderr, "bench: %s on the %s: unexpected reply %s\n",
                    qPrintable(method.name), qPrintable(sides[s]->name()),
                    qPrintable(reply.errorMessage()));
                return false;
            }
            qint64 cameraNs = 0;
            if (method.askCameraOnFloor && s == 1) {
                const qint64 askStart = nowNs();
                const QDBusMessage active
                    = connection.call(askCamera, QDBus::Block, kCallTimeoutMs);
                cameraNs = nowNs() - askStart;
                if (active.type() != QDBusMessage::ReplyMessage) {
                    std::fprintf(stderr, "bench: the floor's camera manager did not answer\n");
                    return false;
                }
            }
            if (n >= kWarmUpCalls && !settingsChange) {
                (s == 0 && settingsPresent ? withSettings : samples[s])
                    .add(static_cast<double>(end - start) / 1000.0);
                if (method.askCameraOnFloor && s == 1)
                    floorWithCamera.add(static_cast<double>(end - start + cameraNs) / 1000.0);
            }
            if (cameraOff && s == 0 && !cameraOff->waitFor(cameraOff->count() + 1)) {
                std::fprintf(stderr, "bench: the daemon did not finish a photo\n");
                return false;
            }
        }
        ++m_callsMade;
    }

    if (method.togglesSettings) {
        // Present and unchanged, the file should cost a photo nothing.
        table.add(QStringLiteral("round trip %1 vs none, median").arg(method.label),
            QStringLiteral("us"), withSettings.median(), samples[0].median(),
            ResultTable::Goal::AtMost, 1.05);
        return writeSettings(false);
    }
    table.add(QStringLiteral("round trip %1, median").arg(method.label), QStringLiteral("us"),
        samples[0].median(), samples[1].median(), ResultTable::Goal::AtMost, 1.10);
    table.add(QStringLiteral("round trip %1, p99").arg(method.label), QStringLiteral("us"),
        samples[0].percentile(99), samples[1].percentile(99), ResultTable::Goal::AtMost, 1.10);
    if (method.askCameraOnFloor) {
        table.add(
            QStringLiteral("round trip %1 vs floor + VideoGetActive, median").arg(method.label),
            QStringLiteral("us"), samples[0].median(), floorWithCamera.median(),
            ResultTable::Goal::AtMost, 1.10);
        table.add(QStringLiteral("round trip %1 vs floor + VideoGetActive, p99").arg(method.label),
            QStringLiteral("us"), samples[0].percentile(99), floorWithCamera.percentile(99),
            ResultTable::Goal::AtMost, 1.10);
    }
    return true;
}
