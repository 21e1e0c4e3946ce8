// Random photo folder contents for trimming: odd names, many equal times,
// links, sub-folders and hidden files, any limit. Afterwards the folder must
// hold what the limit allows, no removed file may be newer than a kept one,
// and the file that links point at must still be there.

#include "common/FolderManager.h"

#include <QDir>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#define check(condition)                                                                           \
    if (!(condition)) {                                                                            \
        std::fprintf(stderr, "fuzz_foldermanager: %s\n", #condition);                              \
        std::abort();                                                                              \
    }

// The visible regular files left, by their bytes (QDir cannot see names
// that are not UTF-8).
static std::set<QByteArray> regularFiles(const QByteArray& folder)
{
    std::set<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    struct stat st;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.' && ::lstat(folder + '/' + entry->d_name, &st) == 0
            && S_ISREG(st.st_mode))
            names.insert(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

static void emptyFolder(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
        const QByteArray path = folder + '/' + entry->d_name;
        if (::unlink(path.constData()) != 0)
            ::rmdir(path.constData()); // ".", ".." and sub-folders (always empty)
    }
    if (dir)
        ::closedir(dir);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir root;
    const QString folder = root.path() + "/photo";
    const QByteArray target = QFile::encodeName(root.path()) + "/target";
    QDir().mkpath(folder);
    emptyFolder(QFile::encodeName(folder));
    ::close(::open(target.constData(), O_CREAT | O_WRONLY, 0644));

    FuzzedDataProvider input(data, size);
    const int limit = input.ConsumeIntegralInRange(0, 7);
    std::map<QByteArray, int> photos; // visible regular files and their times
    while (input.remaining_bytes() > 0) {
        const int kind = input.ConsumeIntegralInRange(0, 7);
        const int mtime = 1700000000 + input.ConsumeIntegralInRange(0, 3); // many ties
        QByteArray name = QByteArray::fromStdString(input.ConsumeRandomLengthString(40))
                              .replace('/', '_')
                              .replace('\0', '_');
        const QByteArray path = QFile::encodeName(folder) + '/' + name;
        struct stat st;
        if (name.isEmpty() || name == "." || name == ".." || ::lstat(path.constData(), &st) == 0)
            continue;
        if (kind == 0) {
            check(::symlink(target.constData(), path.constData()) == 0);
        } else if (kind == 1) {
            check(::mkdir(path.constData(), 0755) == 0);
        } else {
            const int fd = ::open(path.constData(), O_CREAT | O_EXCL | O_WRONLY, 0644);
            const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
            check(fd >= 0 && ::futimens(fd, times) == 0 && ::close(fd) == 0);
            if (name.at(0) != '.')
                photos[name] = mtime;
        }
    }

    check(FolderManager(QFile::encodeName(folder).constData(), limit).RemoveExceedingFiles());
    const std::set<QByteArray> kept = regularFiles(QFile::encodeName(folder));
    check(kept.size() == std::min(photos.size(), static_cast<size_t>(limit)));
    int newestGone = 0;
    int oldestKept = INT_MAX;
    for (const auto& [name, mtime] : photos) {
        if (kept.count(name))
            oldestKept = std::min(oldestKept, mtime);
        else
            newestGone = std::max(newestGone, mtime);
    }
    check(newestGone <= oldestKept);
    check(QFile::exists(QFile::decodeName(target)));
    return 0;
}
