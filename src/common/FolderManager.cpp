#include "FolderManager.h"

#include "common/Log.h"

#include <QFile>

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
    qint64 size; // what the size limit counts
    qint64 freed; // what removing it gives back to the file system
};

// The folder as the limits see it.
struct Usage {
    qint64 files;
    qint64 bytes;
    qint64 freeBytes;
};

// 0 for maxBytes or minFreeBytes: no limit.
struct Limits {
    qint64 maxFiles;
    qint64 maxBytes;
    qint64 minFreeBytes;

    bool exceeded(const Usage& usage) const
    {
        return usage.files > maxFiles || (maxBytes > 0 && usage.bytes > maxBytes)
            || usage.freeBytes < minFreeBytes;
    }
};

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

// Oldest first, and among equal times the order of QDir::Time | QDir::Reversed:
// names compared case-sensitively, the greater first.
bool olderFirst(const Entry& a, const Entry& b)
{
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

// Counting is what every photo pays; it allocates nothing.
qint64 regularFileCount(int dirFd)
{
    qint64 count = 0;
    forEachRegularFile(dirFd, [&count](const char*) { ++count; });
    return count;
}

// The files with their times and sizes, for those that are still regular
// files. A file with other links frees nothing when it goes.
std::vector<Entry> withTimes(int dirFd, const std::vector<QByteArray>& names)
{
    std::vector<Entry> entries;
    entries.reserve(names.size());
    for (const QByteArray& name : names) {
        struct stat st;
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(st.st_mode))
            entries.push_back({name, QFile::decodeName(name), localWallClockMsecs(st), st.st_size,
                st.st_nlink == 1 ? static_cast<qint64>(st.st_blocks) * 512 : 0});
    }
    return entries;
}

// Free space for unprivileged writers, looked up only when a limit asks for
// it; a file system that cannot tell counts as having enough.
qint64 freeBytes(int dirFd, qint64 minFreeBytes)
{
    struct statvfs fs;
    if (minFreeBytes <= 0 || ::fstatvfs(dirFd, &fs) != 0)
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

// The limits that removals can meet: a free-space limit that even an empty
// folder would leave unmet is dropped, so that no file goes for it in vain.
Limits reachable(Limits limits, const std::vector<Entry>& files, qint64 freeBytes)
{
    for (const Entry& file : files)
        freeBytes += file.freed;
    if (freeBytes < limits.minFreeBytes)
        limits.minFreeBytes = 0;
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

// No file system's times are coarser (FAT's are): a folder whose times are
// older than this when it is counted cannot change again without changing them.
const qint64 kSettledNs = 2000000000;

qint64 nanoseconds(const struct timespec& time)
{
    return static_cast<qint64>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

bool sameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

// Listing is what every photo would pay: a folder that has not changed since
// its last count (no entry added, removed or renamed changes neither its
// modification nor its change time) is not listed again.
qint64 FolderManager::regularFiles(int dirFd) const
{
    struct timespec now;
    struct stat folder;
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0 || ::fstat(dirFd, &folder) != 0) {
        m_count.files = -1;
        return regularFileCount(dirFd);
    }
    if (m_count.files >= 0 && folder.st_dev == m_count.device && folder.st_ino == m_count.inode
        && sameTime(folder.st_mtim, m_count.modified) && sameTime(folder.st_ctim, m_count.changed))
        return m_count.files;
    const qint64 files = regularFileCount(dirFd);
    const qint64 latest = std::max(nanoseconds(folder.st_mtim), nanoseconds(folder.st_ctim));
    // A change within the granularity of the times might leave them as they
    // are: such a count is not kept.
    m_count = {folder.st_dev, folder.st_ino, folder.st_mtim, folder.st_ctim,
        nanoseconds(now) - latest > kSettledNs ? files : -1};
    return files;
}

FolderManager::FolderManager(const char* path, int maxFiles)
    : m_photoDir(QString::fromLocal8Bit(path))
    , m_settings(maxFiles)
{
}

bool FolderManager::RemoveExceedingFiles() const
{
    m_settings.Refresh();
    const QByteArray path = QFile::encodeName(m_photoDir.path());
    const int dirFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) {
        reportUnusableFolder(path, errno);
        return false;
    }

    const Limits limits{m_settings.maxPhotos(), m_settings.maxBytes(), m_settings.minFreeBytes()};
    // Names, sizes and times are read only when a limit may be exceeded.
    Usage usage{regularFiles(dirFd), 0, freeBytes(dirFd, limits.minFreeBytes)};
    if (limits.exceeded(usage) || limits.maxBytes > 0) {
        std::vector<Entry> files = withTimes(dirFd, regularFileNames(dirFd));
        usage = usageOf(files, usage.freeBytes);
        const Limits goal = reachable(limits, files, usage.freeBytes);
        if (goal.exceeded(usage))
            std::sort(files.begin(), files.end(), olderFirst);
        for (const Entry& file : files) {
            if (!goal.exceeded(usage))
                break;
            // A file that cannot be removed is skipped; the next newer one goes instead.
            if (::unlinkat(dirFd, file.name.constData(), 0) != 0)
                continue;
            PM_LOG(4, "[%s:%d] %s: remove exceeding file: %s", file.name.constData());
            usage = {usage.files - 1, usage.bytes - file.size, usage.freeBytes + file.freed};
        }
    }
    ::close(dirFd);
    // The count limit is named by the callers' refusal line.
    if (limits.maxBytes > 0 && usage.bytes > limits.maxBytes)
        PM_LOG(
            2, "[%s:%d] %s: photo folder over max_megabytes: %lld bytes in its files", usage.bytes);
    if (usage.freeBytes < limits.minFreeBytes)
        PM_LOG(2, "[%s:%d] %s: photo folder under min_free_megabytes: %lld bytes free",
            usage.freeBytes);
    return !limits.exceeded(usage);
}
