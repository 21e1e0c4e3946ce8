#include "TrimBench.h"

#include "Clock.h"
#include "ResultTable.h"
#include "Samples.h"
#include "TrimFloor.h"
#include "common/BusNames.h"
#include "common/FolderManager.h"
#include "platform/Configuration.h"
#include "platform/LogInterface.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <vector>

namespace {
const int kLimit = 100;

// Counts the regular files left, as both trims see them.
int regularFiles(const QString& dir)
{
    return static_cast<int>(QDir(dir).entryList(QDir::Files | QDir::NoSymLinks).size());
}

// How much more log n is at the larger size.
double logGrowth(double from, double to)
{
    return std::log(to) / std::log(from);
}
} // namespace

TrimBench::TrimBench(const QString& scratchDir, const QVector<Size>& sizes)
    : m_scratchDir(scratchDir)
    , m_sizes(sizes)
{
}

bool TrimBench::run(ResultTable& table)
{
    std::fprintf(stderr, "bench: folder trims (FolderManager logs each removal to /dev/null)\n");
    // The daemon's trim writes a log line per removed file; here it costs
    // what a write to /dev/null costs, so that the trims alone are compared.
    const int savedStderr = ::dup(STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (savedStderr < 0 || devNull < 0)
        return false;
    ::dup2(devNull, STDERR_FILENO);
    // Only the count limit: no settings file of this machine has a say.
    Configuration::setFilePath(m_scratchDir + QStringLiteral("/no-settings.ini"));
    LogInterface* previousLog = _logInterface;
    LogInterface log(QString::fromLatin1(BusNames::kLogPath));
    _logInterface = &log;

    bool ok = true;
    std::map<int, double> medians[2];
    unsigned seed = 1;
    for (const Size& size : qAsConst(m_sizes)) {
        Samples samples[2];
        for (int r = 0; r < size.runs && ok; ++r) {
            for (int turn = 0; turn < 2 && ok; ++turn) {
                const int s = (r + turn) % 2;
                const double ms = trimOnce(s == 0, size.files, seed++);
                ok = ms >= 0;
                samples[s].add(ms);
            }
        }
        if (!ok)
            break;
        medians[0][size.files] = samples[0].median();
        medians[1][size.files] = samples[1].median();
        table.add(QStringLiteral("trim %1 files to %2, median").arg(size.files).arg(kLimit),
            QStringLiteral("ms"), samples[0].median(), samples[1].median(),
            ResultTable::Goal::AtMost, 1.5);
    }

    _logInterface = previousLog;
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    ::close(devNull);
    if (!ok) {
        std::fprintf(stderr, "bench: a folder trim failed\n");
        return false;
    }

    // Growth from each size to the largest. The file system's own cost per
    // file is not constant (large folders cost more per unlink), so the floor's
    // growth is the baseline; over it the daemon may add at most a log n
    // factor: n log n at worst where the floor is linear.
    const int largest = m_sizes.last().files;
    for (const Size& size : qAsConst(m_sizes)) {
        if (size.files < 1000 || size.files == largest)
            continue;
        table.add(QStringLiteral("trim growth %1 to %2 files").arg(size.files).arg(largest),
            QStringLiteral("x"), medians[0][largest] / medians[0][size.files],
            medians[1][largest] / medians[1][size.files], ResultTable::Goal::AtMost,
            logGrowth(size.files, largest));
    }
    return true;
}

double TrimBench::trimOnce(bool daemon, int files, unsigned seed) const
{
    const QString dir = m_scratchDir + QStringLiteral("/trim-%1").arg(seed);
    if (!makeFolder(dir, files, seed))
        return -1;
    const QByteArray path = QFile::encodeName(dir);
    bool trimmed = false;
    qint64 elapsed = 0;
    if (daemon) {
        // A folder the daemon has not seen: its index is made (one listing),
        // then the trim walks it.
        const qint64 start = nowNs();
        const FolderManager manager(path.constData(), kLimit);
        trimmed = manager.RemoveExceedingFiles();
        elapsed = nowNs() - start;
    } else {
        const qint64 start = nowNs();
        trimmed = trimFolderFloor(path.constData(), kLimit);
        elapsed = nowNs() - start;
    }
    const bool right = trimmed && regularFiles(dir) == std::min(files, kLimit);
    return removeFolder(dir) && right ? static_cast<double>(elapsed) / 1e6 : -1;
}

bool TrimBench::makeFolder(const QString& dir, int files, unsigned seed) const
{
    if (!QDir().mkpath(dir))
        return false;
    std::vector<int> order(static_cast<size_t>(files));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    const int dirFd
        = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    bool ok = true;
    for (int i = 0; i < files && ok; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "image_%08d.jpg", i);
        const int fd = ::openat(dirFd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        // Whole seconds apart, in no order of name.
        const timespec times[2] = {{1767225600 + order[static_cast<size_t>(i)], 0},
            {1767225600 + order[static_cast<size_t>(i)], 0}};
        ok = fd >= 0 && ::futimens(fd, times) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    ::close(dirFd);
    return ok;
}

bool TrimBench::removeFolder(const QString& dir) const
{
    return QDir(dir).removeRecursively();
}
