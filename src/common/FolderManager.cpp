#include "FolderManager.h"

#include "common/Log.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <vector>

namespace {

struct Entry {
    QByteArray name; // as stored on disk, for unlinkat and the log
    QString decodedName; // as QDir names it, for the tie order
    qint64 localMsecs; // modification time as local wall-clock milliseconds
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

// The names of the visible regular files of an open folder (what
// QDir::Files | QDir::NoSymLinks lists), without following any link. The
// directory entry's type decides; only entries of unknown type are stat'ed.
std::vector<QByteArray> regularFileNames(int dirFd)
{
    std::vector<QByteArray> names;
    const int listFd = ::dup(dirFd);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return names;
    }
    while (const dirent* item = ::readdir(dir)) {
        if (item->d_name[0] == '.')
            continue;
        struct stat st;
        if (item->d_type == DT_REG
            || (item->d_type == DT_UNKNOWN
                && ::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISREG(st.st_mode)))
            names.emplace_back(item->d_name);
    }
    ::closedir(dir);
    return names;
}

// The files with their times, for those that are still regular files.
std::vector<Entry> withTimes(int dirFd, const std::vector<QByteArray>& names)
{
    std::vector<Entry> entries;
    entries.reserve(names.size());
    for (const QByteArray& name : names) {
        struct stat st;
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(st.st_mode))
            entries.push_back({name, QFile::decodeName(name), localWallClockMsecs(st)});
    }
    return entries;
}

} // namespace

FolderManager::FolderManager(const char* path, int maxFiles)
    : m_photoDir(QString::fromLocal8Bit(path))
    , m_maxFiles(maxFiles)
{
}

bool FolderManager::RemoveExceedingFiles() const
{
    const QByteArray path = QFile::encodeName(m_photoDir.path());
    const int dirFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return false;

    // Times are read and sorted only when there is something to remove.
    const std::vector<QByteArray> names = regularFileNames(dirFd);
    qint64 excess = static_cast<qint64>(names.size()) - m_maxFiles;
    if (excess > 0) {
        std::vector<Entry> files = withTimes(dirFd, names);
        excess = static_cast<qint64>(files.size()) - m_maxFiles;
        std::sort(files.begin(), files.end(), olderFirst);
        for (const Entry& file : files) {
            if (excess <= 0)
                break;
            // A file that cannot be removed is skipped; the next newer one goes instead.
            if (::unlinkat(dirFd, file.name.constData(), 0) != 0)
                continue;
            PM_LOG(4, "[%s:%d] %s: remove exceeding file: %s", file.name.constData());
            --excess;
        }
    }
    ::close(dirFd);
    return excess <= 0;
}

int FolderManager::EntriesCount() const
{
    if (!m_photoDir.exists())
        return -1;
    return static_cast<int>(m_photoDir.count());
}
