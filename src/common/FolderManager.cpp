#include "FolderManager.h"

#include "common/Log.h"

#include <QFile>
#include <QFileInfo>

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
    // The limits that removals can meet: free space that even an empty
    // folder would leave short is not sought, so that no file goes for it in
    // vain.
    Limits reachable(qint64 freeWithoutFiles) const
    {
        Limits goal = *this;
        if (freeWithoutFiles < freeNeeded())
            goal.minFreeBytes = goal.roomBytes = 0;
        return goal;
    }
};

// The room the next photo needs is that of the largest of the newest few: one
// photo of a darker scene, or an odd small file, does not shrink it.
const size_t kNewestForRoom = 3;

qint64 (*g_clock)() = nullptr;

qint64 realTimeNs()
{
    if (g_clock)
        return g_clock();
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
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

// The other names of a file removed from a listing have one link less: the
// last of them to go frees the file's space.
void removedFromListing(std::vector<PhotoFolderIndex::Listed>* listing, size_t i)
{
    const PhotoFolderIndex::File removed = (*listing)[i].second;
    for (size_t other = i + 1; removed.links > 1 && other < listing->size(); ++other) {
        PhotoFolderIndex::File& file = (*listing)[other].second;
        if (file.device == removed.device && file.inode == removed.inode)
            --file.links;
    }
}

// What the limits need of the files in trim order.
struct Contents {
    qint64 files;
    qint64 bytes;
    qint64 freeable;
    qint64 newest; // the largest allocation among the newest few
};

Contents contentsOf(const std::vector<PhotoFolderIndex::Listed>& sorted)
{
    Contents contents{static_cast<qint64>(sorted.size()), 0, 0, 0};
    for (size_t i = 0; i < sorted.size(); ++i) {
        contents.bytes += sorted[i].second.size;
        contents.freeable += sorted[i].second.freed();
        if (i + kNewestForRoom >= sorted.size())
            contents.newest = std::max(contents.newest, sorted[i].second.allocated);
    }
    return contents;
}

// With fewer files than kNewestForRoom to go by, a folder emptied to make
// room still knows what a photo needs: the room last found counts too.
Limits limitsOf(const RetentionSettings& settings, qint64* room, const Contents& contents)
{
    *room = contents.files < qint64(kNewestForRoom) ? std::max(contents.newest, *room)
                                                    : contents.newest;
    return {settings.maxPhotos(), settings.maxBytes(), settings.minFreeBytes(), *room};
}

} // namespace

FolderManager::FolderManager(const char* path, int maxFiles, Watch watch)
    : m_photoDir(QString::fromLocal8Bit(path))
    , m_settings(maxFiles)
    , m_room(0)
    , m_watch(watch == Watch::Inotify)
    , m_lost(false)
{
    const QByteArray folder = QFile::encodeName(m_photoDir.path());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd >= 0 && !watchFolder(dirFd, realTimeNs()))
        ::close(dirFd);
}

// The index takes dirFd. Without inotify the folder is listed at every trim
// from then on, as it was before there was an index.
bool FolderManager::watchFolder(int dirFd, qint64 nowNs) const
{
    if (!m_watch)
        return false;
    const int error = m_index.watch(QFile::encodeName(m_photoDir.path()), dirFd, nowNs);
    if (error == 0)
        return true;
    PM_LOG(2, "[%s:%d] %s: photo folder not watched (inotify: %s): each photo lists it whole",
        std::strerror(error));
    m_watch = false;
    return false;
}

// The folder's descriptor for this trim: the index's, brought up to date or
// made anew for whatever the path names now, so that it is exact when it is
// used; without an index, one of its own. -1 when the folder cannot be used.
int FolderManager::folderFd(const QByteArray& path, qint64 nowNs) const
{
    if (m_index.watching() && !m_index.watches(path)) {
        m_index.stop();
        m_lost = true;
    }
    m_index.update(nowNs);
    m_lost = m_index.watchLost() || m_lost;
    if (m_index.watching())
        return m_index.folderFd();
    const int dirFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) {
        reportUnusableFolder(path, errno);
        return -1;
    }
    if (m_watch && m_lost)
        PM_LOG(4, "[%s:%d] %s: photo folder listed anew: it was moved, deleted or replaced");
    m_lost = false;
    return watchFolder(dirFd, nowNs) ? m_index.folderFd() : dirFd;
}

// Walks the files from the oldest. With the index each is looked at once
// more before it goes: one changed since its events were read is put back in
// its place, and the walk goes on.
bool FolderManager::RemoveExceedingFiles() const
{
    m_settings.Refresh();
    const QByteArray path = QFile::encodeName(m_photoDir.path());
    const qint64 now = realTimeNs();
    const int dirFd = folderFd(path, now);
    if (dirFd < 0)
        return false;
    const bool indexed = m_index.watching();
    std::vector<PhotoFolderIndex::Listed> listing = indexed
        ? std::vector<PhotoFolderIndex::Listed>()
        : PhotoFolderIndex::sortedList(dirFd, now);
    const Contents contents = indexed
        ? Contents{static_cast<qint64>(m_index.size()), m_index.bytes(), m_index.freeable(),
            m_index.largestOfNewest(kNewestForRoom)}
        : contentsOf(listing);
    const Limits limits = limitsOf(m_settings, &m_room, contents);
    Usage usage{contents.files, contents.bytes, freeBytes(dirFd)};
    const Limits goal = limits.reachable(usage.freeBytes + contents.freeable);
    for (size_t i = 0; goal.exceeded(usage) && i < (indexed ? m_index.size() : listing.size());) {
        if (indexed && !m_index.check(i)) {
            usage = {static_cast<qint64>(m_index.size()), m_index.bytes(), freeBytes(dirFd)};
            continue;
        }
        const QByteArray& name = indexed ? m_index.at(i).first : listing[i].first;
        const PhotoFolderIndex::File& file = indexed ? m_index.at(i).second : listing[i].second;
        // A file that cannot be removed is skipped; the next newer one goes instead.
        if (::unlinkat(dirFd, name.constData(), 0) != 0) {
            ++i;
            continue;
        }
        PM_LOG(4, "[%s:%d] %s: remove exceeding file: %s", name.constData());
        usage = {usage.files - 1, usage.bytes - file.size, usage.freeBytes + file.freed()};
        indexed ? m_index.removed(i) : removedFromListing(&listing, i++);
    }
    if (!indexed)
        ::close(dirFd);
    // The count limit is named by the callers' refusal line.
    if (limits.maxBytes > 0 && usage.bytes > limits.maxBytes)
        PM_LOG(
            2, "[%s:%d] %s: photo folder over max_megabytes: %lld bytes in its files", usage.bytes);
    if (usage.freeBytes < limits.freeNeeded() && limits.minFreeBytes >= limits.roomBytes)
        PM_LOG(2, "[%s:%d] %s: photo folder under min_free_megabytes: %lld bytes free",
            usage.freeBytes);
    else if (usage.freeBytes < limits.freeNeeded())
        PM_LOG(2,
            "[%s:%d] %s: photo folder's file system is full: %lld bytes free, the next photo "
            "needs %lld",
            usage.freeBytes, limits.roomBytes);
    return !limits.exceeded(usage);
}

void FolderManager::setClock(qint64 (*clock)())
{
    g_clock = clock;
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
