// photomanager_bench: the daemon against its floors, side by side in one run.
// Every figure is taken from both sides in turns and reported as a ratio, so
// the table holds on a busy machine. Runs as root (private mount namespaces).

#include "BenchSide.h"
#include "Clock.h"
#include "CpuPinning.h"
#include "EndToEndBench.h"
#include "KeptBench.h"
#include "LatencyBench.h"
#include "MachineInfo.h"
#include "ResultTable.h"
#include "StartupBench.h"
#include "ThroughputBench.h"
#include "TrimBench.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>
#include <functional>

namespace {
struct Plan {
    int callsPerMethod;
    int photos;
    int keptPhotos;
    int throughputRounds;
    int throughputRoundMs;
    QVector<TrimBench::Size> trimSizes;
    int starts;
};

// The full plan makes 10,000 calls to each side before memory is read again
// (100 warm-up and 2,400 measured calls of each of four methods).
const Plan kFullPlan{
    2400, 400, 200, 20, 250, {{101, 100}, {1000, 30}, {10000, 8}, {100000, 3}}, 20};
const Plan kQuickPlan{300, 40, 20, 2, 300, {{101, 10}, {1000, 4}, {10000, 2}, {100000, 1}}, 4};

// On one CPU the daemon's own work is no longer hidden on a second core, so
// these rows have goals of their own there; the others keep theirs.
const struct {
    const char* rowStart;
    double target;
} kOneCpuTargets[] = {
    {"round trip EnableCamera(false)", 1.05},
    {"round trip IsEnabledCamera vs floor + VideoGetActive", 1.15},
    {"photo end to end (to PhotoTaken)", 1.30},
    {"photo until camera off again", 1.30},
    {"throughput", 0.95},
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The daemon against its floors, side by side."));
    parser.addHelpOption();
    const QCommandLineOption csvOption(QStringLiteral("csv"),
        QStringLiteral("Write the table as CSV to <file>."), QStringLiteral("file"));
    const QCommandLineOption markdownOption(QStringLiteral("markdown"),
        QStringLiteral("Write the table as Markdown to <file>."), QStringLiteral("file"));
    const QCommandLineOption onlyOption(QStringLiteral("only"),
        QStringLiteral("Run only these, comma-separated: latency, endtoend, kept, throughput, "
                       "memory, trim, startup."),
        QStringLiteral("list"));
    const QCommandLineOption quickOption(QStringLiteral("quick"),
        QStringLiteral("Fewer calls and runs: a smoke test of the bench."));
    const QCommandLineOption prefixOption(QStringLiteral("daemon-prefix"),
        QStringLiteral("Run the daemon under <command> (space-separated), e.g. valgrind."),
        QStringLiteral("command"));
    // Another binary in either place, e.g. a changed daemon against the current one.
    const QCommandLineOption daemonOption(QStringLiteral("daemon"),
        QStringLiteral("The daemon binary (default: the one built with the bench)."),
        QStringLiteral("path"), QStringLiteral(BENCH_DAEMON_BINARY));
    const QCommandLineOption floorOption(QStringLiteral("floor"),
        QStringLiteral("The floor binary (default: the one built with the bench)."),
        QStringLiteral("path"), QStringLiteral(BENCH_FLOOR_BINARY));
    // Two runs with different counts leave start-up out of a profile.
    const QCommandLineOption photosOption(QStringLiteral("photos"),
        QStringLiteral("Measured photos end to end per side (default: 400, 40 with --quick)."),
        QStringLiteral("n"));
    const QCommandLineOption methodsOption(QStringLiteral("methods"),
        QStringLiteral("Round trips of these methods only, comma-separated (profiling)."),
        QStringLiteral("list"));
    const QCommandLineOption floorPrefixOption(QStringLiteral("floor-prefix"),
        QStringLiteral("Run the floor under <command>, as --daemon-prefix."),
        QStringLiteral("command"));
    const QCommandLineOption relayOption(QStringLiteral("relay"),
        QStringLiteral("The relay binary (default: the one built with the bench)."),
        QStringLiteral("path"), QStringLiteral(BENCH_RELAY_BINARY));
    const QCommandLineOption relayPrefixOption(QStringLiteral("relay-prefix"),
        QStringLiteral("Run the relay under <command>, as --daemon-prefix."),
        QStringLiteral("command"));
    // tmpfs by default: on a disk, creating and journalling 100,000 files
    // would take minutes and swamp both trims alike.
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString memory = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    const QCommandLineOption scratchOption(QStringLiteral("scratch"),
        QStringLiteral("Make the trim folders under <dir> (default: /dev/shm, else the temporary "
                       "folder)."),
        QStringLiteral("dir"), memory);
    // The photo folder and the log on a disk add a file system's cost, which
    // drifts from minute to minute, to every photo and every line.
    const QCommandLineOption onDiskOption(QStringLiteral("on-disk"),
        QStringLiteral("Keep the services' photo folders and the daemon's log in the temporary "
                       "folder (%1) instead of /dev/shm.")
            .arg(QDir::tempPath()));
    // A device's photo service often shares one small core with everything
    // else; there the daemon's work after a reply no longer hides on a
    // second core beside the client.
    const QCommandLineOption oneCpuOption(QStringLiteral("one-cpu"),
        QStringLiteral("Pin every process of every side, and the bench's clients, to one CPU."));
    parser.addOptions({csvOption, markdownOption, onlyOption, quickOption, prefixOption,
        floorPrefixOption, relayPrefixOption, scratchOption, onDiskOption, methodsOption,
        photosOption, daemonOption, floorOption, relayOption, oneCpuOption});
    parser.process(application);

    if (::geteuid() != 0) {
        std::fprintf(
            stderr, "bench: needs root, to run the services in private mount namespaces\n");
        return 1;
    }

    Plan plan = parser.isSet(quickOption) ? kQuickPlan : kFullPlan;
    if (parser.isSet(photosOption))
        plan.photos = qMax(1, parser.value(photosOption).toInt());
    const QStringList only = parser.value(onlyOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const auto selected = [&only](const char* name) {
        return only.isEmpty() || only.contains(QLatin1String(name));
    };

    MachineInfo machine = MachineInfo::read();
    // Before any process is started: they all inherit the affinity.
    if (parser.isSet(oneCpuOption)) {
        machine.pinnedCpu = CpuPinning::pinToOneCpu();
        if (machine.pinnedCpu < 0) {
            std::fprintf(stderr, "bench: cannot pin the bench to one CPU\n");
            return 1;
        }
    }
    std::fprintf(stderr, "bench: %s\n", qPrintable(machine.summary()));

    const auto words = [&parser](const QCommandLineOption& option) {
        return parser.value(option).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    const BenchPrograms programs{parser.value(daemonOption), parser.value(floorOption),
        parser.value(relayOption), QStringLiteral(BENCH_PEER_BINARY), words(prefixOption),
        words(floorPrefixOption), words(relayPrefixOption)};
    const BenchFolders folders{parser.isSet(onDiskOption) ? QDir::tempPath() : memory, memory};
    BenchSide daemon(BenchSide::Kind::Daemon, programs, folders);
    BenchSide floor(BenchSide::Kind::Floor, programs, folders);
    BenchSide relay(BenchSide::Kind::Relay, programs, folders);
    std::fprintf(stderr, "bench: starting the daemon, the floor and the relay (log: %s)\n",
        qPrintable(daemon.logFile()));
    if (!daemon.start(100) || !floor.start(0) || !relay.start(0)) {
        std::fprintf(stderr, "bench: the services did not come up\n");
        return 1;
    }
    if (machine.pinnedCpu >= 0
        && !CpuPinning::allPinnedTo(
            daemon.pids() + floor.pids() + relay.pids(), machine.pinnedCpu)) {
        std::fprintf(stderr, "bench: a process of the bench runs on another CPU\n");
        return 1;
    }

    ResultTable table;
    bool ok = true;
    // Runs one part when selected and nothing has failed, and says how long it took.
    const auto phase = [&](const char* name, const std::function<bool()>& part) {
        if (!ok || !selected(name))
            return;
        const qint64 start = nowNs();
        ok = part();
        std::fprintf(
            stderr, "bench: %s took %.1f s\n", name, static_cast<double>(nowNs() - start) / 1e9);
    };

    const qint64 rssAtStart[2] = {daemon.service().residentKiB(), floor.service().residentKiB()};
    qint64 rssAfterCalls[2] = {rssAtStart[0], rssAtStart[1]};
    int callsMade = 0;
    phase("latency", [&] {
        LatencyBench latency(daemon, floor, plan.callsPerMethod);
        latency.setMethods(parser.value(methodsOption).split(QLatin1Char(','), Qt::SkipEmptyParts));
        const bool done = latency.run(table);
        callsMade = latency.callsMade();
        rssAfterCalls[0] = daemon.service().residentKiB();
        rssAfterCalls[1] = floor.service().residentKiB();
        return done;
    });
    phase("endtoend", [&] { return EndToEndBench(daemon, floor, relay, plan.photos).run(table); });
    phase("kept", [&] {
        return KeptBench(programs, folders, relay, floor, plan.keptPhotos, machine.pinnedCpu)
            .run(table);
    });
    phase("throughput", [&] {
        return ThroughputBench(daemon, floor, 8, plan.throughputRounds, plan.throughputRoundMs)
            .run(table);
    });
    phase("memory", [&] {
        table.add(QStringLiteral("resident memory after start-up"), QStringLiteral("KiB"),
            static_cast<double>(rssAtStart[0]), static_cast<double>(rssAtStart[1]),
            ResultTable::Goal::AtMost, 1.15);
        if (callsMade > 0)
            table.add(QStringLiteral("resident memory after %1 calls").arg(callsMade),
                QStringLiteral("KiB"), static_cast<double>(rssAfterCalls[0]),
                static_cast<double>(rssAfterCalls[1]), ResultTable::Goal::AtMost, 1.15);
        return true;
    });
    phase("trim", [&] {
        QTemporaryDir scratch(
            parser.value(scratchOption) + QStringLiteral("/photomanager-bench-XXXXXX"));
        return scratch.isValid() && TrimBench(scratch.path(), plan.trimSizes).run(table);
    });
    phase("startup", [&] { return StartupBench(daemon, floor, plan.starts).run(table); });

    if (machine.pinnedCpu >= 0) {
        for (const auto& goal : kOneCpuTargets)
            table.setTarget(QString::fromLatin1(goal.rowStart), goal.target);
    }
    std::printf("\n%s\n\n", qPrintable(machine.summary()));
    table.print(stdout);
    std::fflush(stdout);
    if (parser.isSet(csvOption) && !table.writeCsv(parser.value(csvOption)))
        std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(parser.value(csvOption)));
    if (parser.isSet(markdownOption)
        && !table.writeMarkdown(parser.value(markdownOption), machine.summary()))
        std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(parser.value(markdownOption)));
    if (!ok)
        std::fprintf(stderr, "bench: stopped early; the table holds what was measured\n");
    return ok ? 0 : 1;
}
