#include "PhotoFolderIndex.h"

#include "common/Log.h"

#include <QFile>
#include <QHash>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>

namespace {

// What changes a file's entry: created, written, its times or links
// changed, moved in or out, deleted; and the folder itself going away.
const uint32_t kEvents = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_MOVED_FROM
    | IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
const uint32_t kWatchEnds = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;
// Events after which a name is known to be gone without looking.
const uint32_t kGone = IN_DELETE | IN_MOVED_FROM;

qint64 nanoseconds(const struct timespec& time)
{
    return static_cast<qint64>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// The modification time as QDir's time sort compares it: local wall-clock
// time read as if it were UTC.
qint64 localWallClockMsecs(const struct stat& st)
{
    struct tm local = {};
    const time_t seconds = st.st_mtim.tv_sec;
    localtime_r(&seconds, &local);
    return (static_cast<qint64>(seconds) + local.tm_gmtoff) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

bool isAscii(const QByteArray& name)
{
    return std::all_of(name.cbegin(), name.cend(), [](char c) { return (c & 0x80) == 0; });
}

// Names as QDir compares them, decoded; ASCII names need no decoding.
int compareDecoded(const QByteArray& a, const QByteArray& b)
{
    if (isAscii(a) && isAscii(b))
        return qstrcmp(a, b);
    return QFile::decodeName(a).compare(QFile::decodeName(b));
}

bool orderedBefore(const PhotoFolderIndex::Entry* a, const PhotoFolderIndex::Entry* b)
{
    return PhotoFolderIndex::trimsBefore(a->first, a->second, b->first, b->second);
}

bool sameFile(const PhotoFolderIndex::File& a, const PhotoFolderIndex::File& b)
{
    return a.modifiedNs == b.modifiedNs && a.size == b.size && a.allocated == b.allocated
        && a.device == b.device && a.inode == b.inode && a.links == b.links && a.future == b.future;
}

} // namespace

PhotoFolderIndex::File PhotoFolderIndex::fileOf(const struct stat& st, qint64 boundaryNs)
{
    const qint64 modified = nanoseconds(st.st_mtim);
    return {localWallClockMsecs(st), modified, st.st_size, static_cast<qint64>(st.st_blocks) * 512,
        st.st_dev, st.st_ino, st.st_nlink, modified > boundaryNs};
}

bool PhotoFolderIndex::trimsBefore(
    const QByteArray& nameA, const File& a, const QByteArray& nameB, const File& b)
{
    if (a.future != b.future)
        return a.future;
    if (a.localMsecs != b.localMsecs)
        return a.localMsecs < b.localMsecs;
    const int decoded = compareDecoded(nameA, nameB);
    // Names that decode alike are told apart by their bytes.
    return decoded != 0 ? decoded > 0 : qstrcmp(nameA, nameB) > 0;
}

// The directory entry's type decides; only entries of unknown type are
// looked at before the file itself is.
std::vector<PhotoFolderIndex::Listed> PhotoFolderIndex::list(int dirFd, qint64 nowNs)
{
    std::vector<Listed> files;
    const int listFd = ::dup(dirFd);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return files;
    }
    // The copy shares the folder's read position with dirFd: start over.
    ::rewinddir(dir);
    while (const dirent* item = ::readdir(dir)) {
        struct stat st;
        if (item->d_name[0] != '.' && (item->d_type == DT_REG || item->d_type == DT_UNKNOWN)
            && ::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            files.emplace_back(QByteArray(item->d_name), fileOf(st, nowNs + kFutureSlackNs));
    }
    ::closedir(dir);
    return files;
}

std::vector<PhotoFolderIndex::Listed> PhotoFolderIndex::sortedList(int dirFd, qint64 nowNs)
{
    std::vector<Listed> files = list(dirFd, nowNs);
    std::sort(files.begin(), files.end(), [](const Listed& a, const Listed& b) {
        return trimsBefore(a.first, a.second, b.first, b.second);
    });
    return files;
}

size_t PhotoFolderIndex::NameHash::operator()(const QByteArray& name) const
{
    return qHash(name);
}

PhotoFolderIndex::PhotoFolderIndex()
    : m_inotifyFd(-1)
    , m_dirFd(-1)
    , m_folderDevice(0)
    , m_folderInode(0)
    , m_lost(false)
    , m_boundaryNs(0)
    , m_bytes(0)
    , m_freeable(0)
    , m_futureCount(0)
    , m_earliestFutureNs(std::numeric_limits<qint64>::max())
    , m_linked(0)
    , m_refreshingLinks(false)
{
}

PhotoFolderIndex::~PhotoFolderIndex()
{
    clear();
}

int PhotoFolderIndex::watch(const QByteArray& path, int dirFd, qint64 nowNs)
{
    clear();
    struct stat folder;
    if (::fstat(dirFd, &folder) != 0)
        return errno;
    const int inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0)
        return errno;
    // Through the descriptor, the folder opened is the one watched; by its
    // path where /proc is missing, and then checked at every use.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(dirFd);
    if (::inotify_add_watch(inotifyFd, self.constData(), kEvents) < 0
        && ::inotify_add_watch(inotifyFd, path.constData(), kEvents | IN_DONT_FOLLOW) < 0) {
        const int error = errno;
        ::close(inotifyFd);
        return error;
    }
    m_inotifyFd = inotifyFd;
    m_dirFd = dirFd;
    m_folderDevice = folder.st_dev;
    m_folderInode = folder.st_ino;
    listAgain(nowNs);
    return 0;
}

void PhotoFolderIndex::stop()
{
    clear();
}

bool PhotoFolderIndex::watching() const
{
    return m_inotifyFd >= 0;
}

bool PhotoFolderIndex::watches(const QByteArray& path) const
{
    struct stat folder;
    return watching() && ::lstat(path.constData(), &folder) == 0 && S_ISDIR(folder.st_mode)
        && folder.st_dev == m_folderDevice && folder.st_ino == m_folderInode;
}

int PhotoFolderIndex::folderFd() const
{
    return m_dirFd;
}

bool PhotoFolderIndex::watchLost()
{
    const bool lost = m_lost;
    m_lost = false;
    return lost;
}

void PhotoFolderIndex::clear()
{
    if (m_inotifyFd >= 0)
        ::close(m_inotifyFd);
    if (m_dirFd >= 0)
        ::close(m_dirFd);
    m_inotifyFd = m_dirFd = -1;
    forget();
}

// No file indexed, and the totals to match.
void PhotoFolderIndex::forget()
{
    m_order.clear();
    m_files.clear();
    m_bytes = m_freeable = 0;
    m_futureCount = m_linked = 0;
    m_earliestFutureNs = std::numeric_limits<qint64>::max();
}

// One listing, sorted once by value (inserting the files one by one would
// move the order's entries for each, and sorting pointers would chase them
// all over memory), then indexed in that order.
void PhotoFolderIndex::listAgain(qint64 nowNs)
{
    forget();
    m_boundaryNs = nowNs + kFutureSlackNs;
    std::vector<Listed> files = sortedList(m_dirFd, nowNs);
    m_files.reserve(files.size());
    for (Listed& file : files) {
        Entry* entry = &*m_files.emplace(std::move(file.first), file.second).first;
        m_order.push_back(entry);
        count(entry);
    }
}

void PhotoFolderIndex::update(qint64 nowNs)
{
    if (!watching())
        return;
    std::vector<Named> names;
    bool overflow = false;
    bool lost = false;
    readEvents(&names, &overflow, &lost);
    if (lost) {
        clear();
        m_lost = true;
        return;
    }
    if (overflow) {
        PM_LOG(4, "[%s:%d] %s: photo folder listed anew: its events overflowed the queue");
        listAgain(nowNs);
        return;
    }
    setBoundary(nowNs);
    for (const Named& name : names) {
        if ((name.second & ~kGone) != 0)
            refresh(name.first);
        else
            apply(name.first, nullptr);
    }
}

// Without waiting: the queue holds what happened since the last read. A
// photo being written names its file a few times in a row; it is looked at
// once, and not at all when it is only gone.
void PhotoFolderIndex::readEvents(std::vector<Named>* names, bool* overflow, bool* lost)
{
    alignas(struct inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t length = ::read(m_inotifyFd, buffer, sizeof buffer);
        if (length <= 0)
            return;
        for (const char* at = buffer; at < buffer + length;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(at);
            at += sizeof(struct inotify_event) + event->len;
            *overflow = *overflow || (event->mask & IN_Q_OVERFLOW);
            *lost = *lost || (event->mask & kWatchEnds);
            const QByteArray name = event->len > 0 ? QByteArray(event->name) : QByteArray();
            if (!name.isEmpty() && !names->empty() && names->back().first == name)
                names->back().second |= event->mask;
            else if (!name.isEmpty())
                names->emplace_back(name, event->mask);
        }
        // Room left for the longest event: the queue was read to its end.
        if (static_cast<size_t>(length) + sizeof(struct inotify_event) + NAME_MAX + 1
            <= sizeof buffer)
            return;
    }
}

// Files cross the line between the future and the present as the clock moves
// on, without an event; when it moves back, the other way.
void PhotoFolderIndex::setBoundary(qint64 nowNs)
{
    const qint64 boundary = nowNs + kFutureSlackNs;
    const bool back = boundary < m_boundaryNs;
    m_boundaryNs = boundary;
    if (!back && (m_futureCount == 0 || m_earliestFutureNs > boundary))
        return;
    std::vector<Entry*> crossing;
    for (Entry* entry : m_order) {
        if (entry->second.future != (entry->second.modifiedNs > boundary))
            crossing.push_back(entry);
        if (!back && !entry->second.future)
            break; // past the future ones
    }
    for (Entry* entry : crossing) {
        detach(entry);
        entry->second.future = !entry->second.future;
        attach(entry);
    }
    m_earliestFutureNs = std::numeric_limits<qint64>::max();
    for (size_t i = 0; i < m_futureCount; ++i)
        m_earliestFutureNs = std::min(m_earliestFutureNs, m_order[i]->second.modifiedNs);
}

void PhotoFolderIndex::refresh(const QByteArray& name)
{
    struct stat st;
    const bool found = ::fstatat(m_dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    apply(name, found ? &st : nullptr);
}

// The entry of a name as st shows the file (null: nothing there). A file's
// other names share its link count, and only their own events tell: other
// names of the same file, visible or not, are looked at too.
void PhotoFolderIndex::apply(const QByteArray& name, const struct stat* st)
{
    const bool indexed = st && S_ISREG(st->st_mode) && !name.startsWith('.');
    const auto found = m_files.find(name);
    if (found != m_files.end()) {
        const File old = found->second;
        if (indexed && sameFile(old, fileOf(*st, m_boundaryNs)))
            return;
        eraseAt(positionOf(&*found));
        if (old.links > 1)
            refreshLinksOf(old.device, old.inode, name);
    } else if (m_linked > 0) {
        refreshLinked(); // a hidden or gone name may have been one of an indexed file
    }
    if (indexed)
        attach(&*m_files.emplace(name, fileOf(*st, m_boundaryNs)).first);
    if (st && S_ISREG(st->st_mode) && st->st_nlink > 1)
        refreshLinksOf(st->st_dev, st->st_ino, name);
}

void PhotoFolderIndex::refreshLinksOf(dev_t device, ino_t inode, const QByteArray& except)
{
    refreshWhere([&](const Entry& entry) {
        return entry.second.device == device && entry.second.inode == inode
            && entry.first != except;
    });
}

void PhotoFolderIndex::refreshLinked()
{
    refreshWhere([](const Entry& entry) { return entry.second.links > 1; });
}

// Looks again at the names that match, without going round again for the
// links that the looks themselves find.
template <typename Matches> void PhotoFolderIndex::refreshWhere(Matches matches)
{
    if (m_refreshingLinks)
        return;
    m_refreshingLinks = true;
    std::vector<QByteArray> names;
    for (const Entry& entry : m_files)
        if (matches(entry))
            names.push_back(entry.first);
    for (const QByteArray& name : names)
        refresh(name);
    m_refreshingLinks = false;
}

// A new photo is the newest and goes to the end, at no cost; anywhere else
// the shorter side of the order moves.
void PhotoFolderIndex::attach(Entry* entry)
{
    m_order.insert(std::upper_bound(m_order.begin(), m_order.end(), entry, orderedBefore), entry);
    count(entry);
}

// An entry now in the order, in the totals.
void PhotoFolderIndex::count(const Entry* entry)
{
    m_bytes += entry->second.size;
    m_freeable += entry->second.freed();
    m_linked += entry->second.links > 1;
    if (entry->second.future) {
        ++m_futureCount;
        m_earliestFutureNs = std::min(m_earliestFutureNs, entry->second.modifiedNs);
    }
}

void PhotoFolderIndex::detach(Entry* entry)
{
    detachAt(positionOf(entry));
}

void PhotoFolderIndex::detachAt(size_t i)
{
    const Entry* entry = m_order[i];
    m_order.erase(m_order.begin() + static_cast<std::ptrdiff_t>(i));
    m_bytes -= entry->second.size;
    m_freeable -= entry->second.freed();
    m_linked -= entry->second.links > 1;
    m_futureCount -= entry->second.future;
}

size_t PhotoFolderIndex::positionOf(const Entry* entry) const
{
    const auto at = std::lower_bound(m_order.begin(), m_order.end(), entry, orderedBefore);
    return static_cast<size_t>(at - m_order.begin());
}

void PhotoFolderIndex::eraseAt(size_t i)
{
    const QByteArray name = m_order[i]->first; // not the node's own key, which goes with it
    detachAt(i);
    m_files.erase(name);
}

size_t PhotoFolderIndex::size() const
{
    return m_order.size();
}

const PhotoFolderIndex::Entry& PhotoFolderIndex::at(size_t i) const
{
    return *m_order[i];
}

qint64 PhotoFolderIndex::bytes() const
{
    return m_bytes;
}

qint64 PhotoFolderIndex::freeable() const
{
    return m_freeable;
}

qint64 PhotoFolderIndex::largestOfNewest(size_t newest) const
{
    qint64 largest = 0;
    for (size_t i = m_order.size() > newest ? m_order.size() - newest : 0; i < m_order.size(); ++i)
        largest = std::max(largest, m_order[i]->second.allocated);
    return largest;
}

bool PhotoFolderIndex::check(size_t i)
{
    const QByteArray name = m_order[i]->first;
    struct stat st;
    const bool found = ::fstatat(m_dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (found && S_ISREG(st.st_mode) && sameFile(m_order[i]->second, fileOf(st, m_boundaryNs)))
        return true;
    apply(name, found ? &st : nullptr);
    return false;
}

void PhotoFolderIndex::removed(size_t i)
{
    const QByteArray name = m_order[i]->first;
    const File file = m_order[i]->second;
    eraseAt(i);
    if (file.links > 1)
        refreshLinksOf(file.device, file.inode, name);
}
