#include "FolderManager.h"

#include "common/Log.h"

#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

namespace {

struct Entry {
    QByteArray name; // as stored on disk, for unlinkat and the log
    QString decodedName; // as QDir names it, for the tie order
    qint64 localMsecs; // modification time as local wall-clock milliseconds
    bool future; // stamped later than the clock by more than kFutureSlackNs
    qint64 size; // what the size limit counts
    qint64 allocated; // the blocks it takes on the file system
    qint64 freed; // what removing it gives back to the file system
};

// The folder as the limits see it.
struct Usage {
    qint64 files;
    qint64 bytes;
    qint64 freeBytes;
};

// 0 for maxBytes, minFreeBytes or roomBytes: no limit.
struct Limits {
    qint64 maxFiles;
    qint64 maxBytes;
    qint64 minFreeBytes; // as configured
    qint64 roomBytes; // what the next photo needs, as the newest show it

    qint64 freeNeeded() const
    {
        return std::max(minFreeBytes, roomBytes);
    }
    bool exceeded(const Usage& usage) const
    {
        return usage.files > maxFiles || (maxBytes > 0 && usage.bytes > maxBytes)
            || usage.freeBytes < freeNeeded();
    }
};

// A clock set back (a device without a battery-backed clock before time is
// synchronised) stamps new photos older than those taken before: files
// stamped later than now go first, or every new photo would be the next to
// go. The slack covers file systems whose times are rounded up (FAT's to 2 s)
// and a writer whose clock runs a little ahead.
const qint64 kFutureSlackNs = 5000000000LL;
// The room the next photo needs is that of the largest of the newest few: one
// photo of a darker scene, or an odd small file, does not shrink it.
const size_t kNewestForRoom = 3;

qint64 nanoseconds(const struct timespec& time)
{
    return static_cast<qint64>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// The modification time as QDir's time sort compares it: local wall-clock
// time read as if it were UTC. Converted once per file; QDir converts on every
// comparison, which re-reads the time zone each time.
qint64 localWallClockMsecs(const struct stat& st)
{
    struct tm local = {};
    const time_t seconds = st.st_mtim.tv_sec;
    localtime_r(&seconds, &local);
    return (static_cast<qint64>(seconds) + local.tm_gmtoff) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

// Stamped later than now first, then oldest first, and among equal times the
// order of QDir::Time | QDir::Reversed: names compared case-sensitively, the
// greater first.
bool olderFirst(const Entry& a, const Entry& b)
{
    if (a.future != b.future)
        return a.future;
    if (a.localMsecs != b.localMsecs)
        return a.localMsecs < b.localMsecs;
    return a.decodedName.compare(b.decodedName) > 0;
}

// Calls visit with the name of each visible regular file of an open folder
// (what QDir::Files | QDir::NoSymLinks lists), without following any link.
// The directory entry's type decides; only entries of unknown type are stat'ed.
template <typename Visit> void forEachRegularFile(int dirFd, Visit visit)
{
    const int listFd = ::dup(dirFd);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return;
    }
    // The copy shares the folder's read position with dirFd: start over.
    ::rewinddir(dir);
    while (const dirent* item = ::readdir(dir)) {
        if (item->d_name[0] == '.')
            continue;
        struct stat st;
        if (item->d_type == DT_REG
            || (item->d_type == DT_UNKNOWN
                && ::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISREG(st.st_mode)))
            visit(item->d_name);
    }
    ::closedir(dir);
}

std::vector<QByteArray> regularFileNames(int dirFd)
{
    std::vector<QByteArray> names;
    forEachRegularFile(dirFd, [&names](const char* name) { names.emplace_back(name); });
    return names;
}

// The files with their times and sizes, for those that are still regular
// files. A file with other links frees nothing when it goes.
std::vector<Entry> withTimes(int dirFd, const std::vector<QByteArray>& names)
{
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::vector<Entry> entries;
    entries.reserve(names.size());
    for (const QByteArray& name : names) {
        struct stat st;
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(st.st_mode))
            continue;
        const qint64 allocated = static_cast<qint64>(st.st_blocks) * 512;
        entries.push_back({name, QFile::decodeName(name), localWallClockMsecs(st),
            nanoseconds(st.st_mtim) > nanoseconds(now) + kFutureSlackNs, st.st_size, allocated,
            st.st_nlink == 1 ? allocated : 0});
    }
    return entries;
}

// Free space for unprivileged writers; a file system that cannot tell counts
// as having enough.
qint64 freeBytes(int dirFd)
{
    struct statvfs fs;
    if (::fstatvfs(dirFd, &fs) != 0)
        return std::numeric_limits<qint64>::max() / 2;
    return static_cast<qint64>(fs.f_bavail) * static_cast<qint64>(fs.f_frsize);
}

Usage usageOf(const std::vector<Entry>& files, qint64 freeBytes)
{
    Usage usage{static_cast<qint64>(files.size()), 0, freeBytes};
    for (const Entry& file : files)
        usage.bytes += file.size;
    return usage;
}

// The largest of the newest few files of a folder in trim order.
qint64 roomForNextPhoto(const std::vector<Entry>& sorted)
{
    qint64 room = 0;
    for (size_t i = sorted.size() > kNewestForRoom ? sorted.size() - kNewestForRoom : 0;
         i < sorted.size(); ++i)
        room = std::max(room, sorted[i].allocated);
    return room;
}

// The limits that removals can meet: free space that even an empty folder
// would leave short is not sought, so that no file goes for it in vain.
Limits reachable(Limits limits, const std::vector<Entry>& files, qint64 freeBytes)
{
    for (const Entry& file : files)
        freeBytes += file.freed;
    if (freeBytes < limits.freeNeeded())
        limits.minFreeBytes = limits.roomBytes = 0;
    return limits;
}

// Says why the folder cannot be used; the callers' refusal line names only
// the count.
void reportUnusableFolder(const QByteArray& path, int openError)
{
    struct stat st;
    const bool found = ::lstat(path.constData(), &st) == 0;
    const char* why = !found && errno == ENOENT ? "is missing"
        : found && S_ISLNK(st.st_mode)          ? "is a symbolic link"
        : found && !S_ISDIR(st.st_mode)         ? "is not a directory"
                                                : nullptr;
    if (why)
        PM_LOG(2, "[%s:%d] %s: photo folder %s %s", path.constData(), why);
    else
        PM_LOG(2, "[%s:%d] %s: photo folder %s cannot be opened: %s", path.constData(),
            std::strerror(openError));
}

// The count limit is named by the callers' refusal line.
void reportLimitsMissed(const Limits& limits, const Usage& usage)
{
    if (limits.maxBytes > 0 && usage.bytes > limits.maxBytes)
        PM_LOG(
            2, "[%s:%d] %s: photo folder over max_megabytes: %lld bytes in its files", usage.bytes);
    if (usage.freeBytes >= limits.freeNeeded())
        return;
    if (limits.minFreeBytes >= limits.roomBytes)
        PM_LOG(2, "[%s:%d] %s: photo folder under min_free_megabytes: %lld bytes free",
            usage.freeBytes);
    else
        PM_LOG(2,
            "[%s:%d] %s: photo folder's file system is full: %lld bytes free, the next photo "
            "needs %lld",
            usage.freeBytes, limits.roomBytes);
}

} // namespace

FolderManager::FolderManager(const char* path, int maxFiles)
    : m_photoDir(QString::fromLocal8Bit(path))
    , m_settings(maxFiles)
    , m_room(0)
{
}

bool FolderManager::RemoveExceedingFiles()
{
    m_settings.Refresh();
    const QByteArray path = QFile::encodeName(m_photoDir.path());
    const int dirFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) {
        reportUnusableFolder(path, errno);
        return false;
    }

    std::vector<Entry> files = withTimes(dirFd, regularFileNames(dirFd));
    std::sort(files.begin(), files.end(), olderFirst);
    // With fewer files than that to go by, a folder emptied to make room
    // still knows what a photo needs.
    m_room = files.size() < kNewestForRoom ? std::max(roomForNextPhoto(files), m_room)
                                           : roomForNextPhoto(files);
    const Limits limits{
        m_settings.maxPhotos(), m_settings.maxBytes(), m_settings.minFreeBytes(), m_room};
    Usage usage = usageOf(files, freeBytes(dirFd));
    const Limits goal = reachable(limits, files, usage.freeBytes);
    for (const Entry& file : files) {
        if (!goal.exceeded(usage))
            break;
        // A file that cannot be removed is skipped; the next newer one goes instead.
        if (::unlinkat(dirFd, file.name.constData(), 0) != 0)
            continue;
        PM_LOG(4, "[%s:%d] %s: remove exceeding file: %s", file.name.constData());
        usage = {usage.files - 1, usage.bytes - file.size, usage.freeBytes + file.freed};
    }
    ::close(dirFd);
    reportLimitsMissed(limits, usage);
    return !limits.exceeded(usage);
}

bool FolderManager::RemoveFailedCapture(const QString& photoPath) const
{
    const QFileInfo photo(photoPath);
    if (photo.path() != m_photoDir.path())
        return false;
    const QByteArray folder = QFile::encodeName(m_photoDir.path());
    const QByteArray name = QFile::encodeName(photo.fileName());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    const bool removed = dirFd >= 0
        && ::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
        && ::unlinkat(dirFd, name.constData(), 0) == 0;
    if (dirFd >= 0)
        ::close(dirFd);
    return removed;
}
