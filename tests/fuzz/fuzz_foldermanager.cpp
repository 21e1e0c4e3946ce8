// Random photo folder contents: odd names, many equal times, sparse sizes,
// links, sub-folders, hidden files; any count limit and a size limit. Both
// limits must hold afterwards, no file gone may be newer than one kept, the
// last one removed must have been needed, and what links point at must stay.

#include "common/FolderManager.h"
#include "platform/Configuration.h"

#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#define check(c)                                                                                   \
    ((c) ? void() : (std::fprintf(stderr, "fuzz_foldermanager: %s\n", #c), std::abort()))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QTemporaryDir root;
    const QByteArray folder = QFile::encodeName(root.path()) + "/photo";
    const QByteArray target = QFile::encodeName(root.path()) + "/target";
    check(::mkdir(folder, 0755) == 0 && ::close(::open(target, O_CREAT | O_WRONLY, 0644)) == 0);
    FuzzedDataProvider input(data, size);
    const int limit = input.ConsumeIntegralInRange(0, 7);
    const qint64 maxBytes = qint64(input.ConsumeIntegralInRange(0, 2)) << 20; // 0: no limit
    QFile settings(root.path() + "/settings.ini");
    Configuration::setFilePath(settings.fileName());
    check(settings.open(QIODevice::WriteOnly)
        && settings.write("[PHOTOMANAGER]\nmax_megabytes=" + QByteArray::number(maxBytes >> 20))
        && settings.flush());

    std::map<QByteArray, std::pair<int, qint64>> photos; // visible regular files: time, size
    while (input.remaining_bytes() > 0) {
        const int kind = input.ConsumeIntegralInRange(0, 7);
        const int mtime = 1700000000 + input.ConsumeIntegralInRange(0, 3); // many ties
        const qint64 length = input.ConsumeIntegralInRange(0, 3) << 18;
        QByteArray name = QByteArray::fromStdString(input.ConsumeRandomLengthString(40));
        name.replace('/', '_').replace('\0', '_');
        const QByteArray path = folder + '/' + name;
        if (name.isEmpty() || name == "." || name == ".." || ::access(path, F_OK) == 0)
            continue;
        const int fd = kind < 2 ? -1 : ::open(path, O_CREAT | O_EXCL | O_WRONLY, 0644);
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        check(kind == 0 ? ::symlink(target, path) == 0
                : kind == 1
                ? ::mkdir(path, 0755) == 0
                : ::ftruncate(fd, length) == 0 && ::futimens(fd, times) == 0 && ::close(fd) == 0);
        if (kind >= 2 && name.at(0) != '.')
            photos[name] = {mtime, length};
    }

    check(FolderManager(folder.constData(), limit).RemoveExceedingFiles());
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
