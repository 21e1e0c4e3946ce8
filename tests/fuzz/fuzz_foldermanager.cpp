// Random photo folder contents: odd names, many equal times, sparse sizes,
// links, sub-folders, hidden files, files deleted and renamed; any count
// limit and a size limit. Made after the folder's index, in a twin folder
// too: the index must trim as a listing does in the twin. Both limits must
// hold afterwards, no file gone may be newer than one kept, the last one
// removed must have been needed, and what links point at must stay.

#include "common/FolderManager.h"
#include "platform/Configuration.h"

#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>

#define check(c)                                                                                   \
    ((c) ? void() : (std::fprintf(stderr, "fuzz_foldermanager: %s\n", #c), std::abort()))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QTemporaryDir root;
    const QByteArray folder = QFile::encodeName(root.path()) + "/photo";
    const QByteArray twin = QFile::encodeName(root.path()) + "/twin";
    const QByteArray target = QFile::encodeName(root.path()) + "/target";
    check(::mkdir(folder, 0755) == 0 && ::mkdir(twin, 0755) == 0
        && ::close(::open(target, O_CREAT | O_WRONLY, 0644)) == 0);
    FuzzedDataProvider input(data, size);
    const int limit = input.ConsumeIntegralInRange(0, 7);
    const qint64 maxBytes = qint64(input.ConsumeIntegralInRange(0, 2)) << 20; // 0: no limit
    QFile settings(root.path() + "/settings.ini");
    Configuration::setFilePath(settings.fileName());
    check(settings.open(QIODevice::WriteOnly)
        && settings.write("[PHOTOMANAGER]\nmax_megabytes=" + QByteArray::number(maxBytes >> 20))
        && settings.flush());

    const FolderManager indexed(folder.constData(), limit);
    const FolderManager listed(twin.constData(), limit, FolderManager::Watch::Off);
    std::map<QByteArray, std::pair<int, qint64>> photos; // visible regular files: time, size
    while (input.remaining_bytes() > 0) {
        const int kind = input.ConsumeIntegralInRange(0, 9);
        const int mtime = 1700000000 + input.ConsumeIntegralInRange(0, 3); // many ties
        const qint64 length = input.ConsumeIntegralInRange(0, 3) << 18;
        QByteArray name = QByteArray::fromStdString(input.ConsumeRandomLengthString(40));
        name.replace('/', '_').replace('\0', '_');
        if (name.isEmpty() || name == "." || name == "..")
            continue;
        // 8: the photo of that name deleted; 9: renamed to the next photo's name.
        const auto photo = photos.lower_bound(name);
        if (kind >= 8 && photo != photos.end()) {
            const auto next = std::next(photo) == photos.end() ? photos.begin() : std::next(photo);
            for (const QByteArray& dir : {folder, twin})
                check(kind == 8 ? ::unlink(dir + '/' + photo->first) == 0
                                : ::rename(dir + '/' + photo->first, dir + '/' + next->first) == 0);
            if (kind == 9 && next != photo)
                next->second = photo->second;
            if (kind == 8 || next != photo)
                photos.erase(photo);
        }
        if (kind >= 8 || ::access(folder + '/' + name, F_OK) == 0)
            continue;
        for (const QByteArray& dir : {folder, twin}) {
            const QByteArray path = dir + '/' + name;
            const int fd = kind < 2 ? -1 : ::open(path, O_CREAT | O_EXCL | O_WRONLY, 0644);
            const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
            check(kind == 0     ? ::symlink(target, path) == 0
                    : kind == 1 ? ::mkdir(path, 0755) == 0
                                : ::ftruncate(fd, length) == 0 && ::futimens(fd, times) == 0
                        && ::close(fd) == 0);
        }
        if (kind >= 2 && name.at(0) != '.')
            photos[name] = {mtime, length};
    }

    check(indexed.RemoveExceedingFiles() && listed.RemoveExceedingFiles());
    for (const auto& [name, photo] : photos)
        check(
            (::access(folder + '/' + name, F_OK) == 0) == (::access(twin + '/' + name, F_OK) == 0));
    qint64 kept = 0, keptBytes = 0, newestGone = 0, oldestKept = 2000000000;
    for (const auto& [name, photo] : photos) {
        const bool stays = ::access(folder + '/' + name, F_OK) == 0;
        kept += stays;
        keptBytes += stays ? photo.second : 0;
        oldestKept = stays ? std::min<qint64>(oldestKept, photo.first) : oldestKept;
        newestGone = stays ? newestGone : std::max<qint64>(newestGone, photo.first);
    }
    check(kept <= limit && (maxBytes == 0 || keptBytes <= maxBytes) && newestGone <= oldestKept);
    // The last one removed is among the newest gone, and a limit needed it gone.
    bool needed = newestGone == 0;
    for (const auto& [name, photo] : photos)
        needed = needed
            || (photo.first == newestGone && ::access(folder + '/' + name, F_OK) != 0
                && (kept == limit || (maxBytes > 0 && keptBytes + photo.second > maxBytes)));
    check(needed && QFile::exists(QFile::decodeName(target)));
    return 0;
}
