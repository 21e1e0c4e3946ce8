#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>

#include <deque>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

// The photo folder's visible regular files in the order the trim removes
// them, with what each limit needs, kept exact from inotify instead of a
// listing per photo.
//
// One listing makes it; from then on the folder's events (files created,
// written, their times or links changed, moved in or out, deleted) are read,
// without waiting, before it is used, and each file an event names is looked
// at once more. An overflowed event queue means one listing again; the
// folder itself moved, deleted or unmounted ends the watch, and the caller
// makes a new index for whatever the path then names.
//
// Trim order: files stamped later than the clock by more than the slack
// first, then by modification time as local wall-clock milliseconds (what
// QDir::Time compares), ties by name as QDir decodes it, the greater first.
// Local wall-clock times are not monotonic with the real time around a change
// of the UTC offset, so "later than the clock" is decided on the real time
// and kept apart from the order's key.
class PhotoFolderIndex {
public:
    struct File {
        qint64 localMsecs; // the order's key
        qint64 modifiedNs; // real time, for "later than the clock"
        qint64 size;
        qint64 allocated; // blocks taken on the file system, in bytes
        dev_t device;
        ino_t inode;
        nlink_t links;
        bool future; // stamped later than the clock by more than the slack

        // What removing it gives back: nothing while it has other names.
        qint64 freed() const
        {
            return links == 1 ? allocated : 0;
        }
    };
    using Entry = std::pair<const QByteArray, File>;

    // Stamps up to this much later than the clock still count as now: file
    // systems round times up (FAT's to 2 s), and a writer's clock may run a
    // little ahead.
    static const qint64 kFutureSlackNs = 5000000000LL;

    using Listed = std::pair<QByteArray, File>;

    static File fileOf(const struct stat& st, qint64 boundaryNs);
    // Whether the first file is removed before the second.
    static bool trimsBefore(
        const QByteArray& nameA, const File& a, const QByteArray& nameB, const File& b);
    // The visible regular files of the folder open at dirFd, in no order.
    static std::vector<Listed> list(int dirFd, qint64 nowNs);
    // The same in trim order.
    static std::vector<Listed> sortedList(int dirFd, qint64 nowNs);

    PhotoFolderIndex();
    ~PhotoFolderIndex();
    PhotoFolderIndex(const PhotoFolderIndex&) = delete;
    PhotoFolderIndex& operator=(const PhotoFolderIndex&) = delete;

    // Watches the folder open at dirFd and lists it. On success the index
    // owns dirFd and 0 is returned; otherwise the errno of inotify, and the
    // caller keeps dirFd.
    int watch(const QByteArray& path, int dirFd, qint64 nowNs);
    bool watching() const;
    // Ends the watch and forgets the folder.
    void stop();
    // Whether path still names the folder watched.
    bool watches(const QByteArray& path) const;
    int folderFd() const;
    // Reads the pending events; lists the folder again after an overflow.
    // Ends the watch when the folder was moved, deleted or unmounted, and
    // then says so once through watchLost().
    void update(qint64 nowNs);
    bool watchLost();

    size_t size() const;
    const Entry& at(size_t i) const;
    qint64 bytes() const;
    qint64 freeable() const;
    // The largest allocation among the newest files.
    qint64 largestOfNewest(size_t newest) const;

    // Looks at the file at i once more: true when it is as indexed, else its
    // entry is brought in line (moved to its place, or dropped) and false.
    bool check(size_t i);
    // The file at i was removed.
    void removed(size_t i);

private:
    void clear();
    void forget();
    void listAgain(qint64 nowNs);
    void setBoundary(qint64 nowNs);
    void refresh(const QByteArray& name);
    void apply(const QByteArray& name, const struct stat* st);
    void attach(Entry* entry);
    void count(const Entry* entry);
    void detach(Entry* entry);
    void detachAt(size_t i);
    size_t positionOf(const Entry* entry) const;
    void eraseAt(size_t i);
    void refreshLinksOf(dev_t device, ino_t inode, const QByteArray& except);
    void refreshLinked();
    template <typename Matches> void refreshWhere(Matches matches);
    // A name and the events that named it in a row.
    using Named = std::pair<QByteArray, uint32_t>;
    void readEvents(std::vector<Named>* names, bool* overflow, bool* lost);

    struct NameHash {
        size_t operator()(const QByteArray& name) const;
    };

    int m_inotifyFd;
    int m_dirFd;
    dev_t m_folderDevice;
    ino_t m_folderInode;
    bool m_lost;
    qint64 m_boundaryNs; // files modified later than this are in the future
    std::unordered_map<QByteArray, File, NameHash> m_files;
    std::deque<Entry*> m_order;
    qint64 m_bytes;
    qint64 m_freeable;
    size_t m_futureCount; // future entries, the first of the order
    qint64 m_earliestFutureNs; // at most the earliest future modification
    size_t m_linked; // entries with other names
    bool m_refreshingLinks;
};
