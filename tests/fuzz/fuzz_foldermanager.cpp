// Random folder contents for the photo folder trimming: odd names, equal and
// distinct times, links, sub-folders and hidden files, and any limit. After
// each run the folder must hold exactly what the limit allows, the newest
// files must be the ones kept, and nothing a link points at may be gone.

#include "common/FolderManager.h"

#include <QByteArray>
#include <QTemporaryDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void emptyFolder(const QByteArray& folder)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        if (::unlink(path.constData()) != 0)
            ::rmdir(path.constData());
    }
    ::closedir(dir);
}

std::set<QByteArray> regularFiles(const QByteArray& folder)
{
    std::set<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st;
        const QByteArray path = folder + '/' + entry->d_name;
        if (entry->d_name[0] != '.' && ::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode))
            names.insert(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir root;
    const QByteArray folder = QFile::encodeName(root.path()) + "/photo";
    const QByteArray outside = QFile::encodeName(root.path()) + "/outside";
    ::mkdir(folder.constData(), 0755);
    ::mkdir(outside.constData(), 0755);
    emptyFolder(folder);
    emptyFolder(outside);

    size_t pos = 0;
    const auto next = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };
    const int limit = next() % 8;
    std::map<QByteArray, int> mtimes; // regular files and their times
    std::set<QByteArray> used;
    while (pos < size) {
        const uint8_t kind = next();
        const int length = 1 + next() % 40;
        QByteArray name;
        for (int i = 0; i < length; ++i) {
            const char c = static_cast<char>(next());
            name.append(c == '/' || c == '\0' ? '_' : c);
        }
        if (name == "." || name == ".." || !used.insert(name).second)
            continue;
        const QByteArray path = folder + '/' + name;
        if (kind % 8 == 0) {
            // A link to a file outside: the link is no photo, its target stays.
            const QByteArray target = outside + "/t" + QByteArray::number(int(pos));
            ::close(::open(target.constData(), O_CREAT | O_WRONLY, 0644));
            if (::symlink(target.constData(), path.constData()) != 0)
                continue;
        } else if (kind % 8 == 1) {
            ::mkdir(path.constData(), 0755);
        } else {
            const int fd = ::open(path.constData(), O_CREAT | O_EXCL | O_WRONLY, 0644);
            if (fd < 0)
                continue;
            const int mtime = 1700000000 + (kind >> 3); // few values: many ties
            const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
            ::futimens(fd, times);
            ::close(fd);
            if (name.at(0) != '.')
                mtimes[name] = mtime;
        }
    }

    check(FolderManager(folder.constData(), limit).RemoveExceedingFiles());
    const std::set<QByteArray> kept = regularFiles(folder);
    check(kept.size() == std::min<size_t>(mtimes.size(), static_cast<size_t>(limit)));
    for (const QByteArray& name : kept) {
        for (const auto& [other, mtime] : mtimes) {
            if (!kept.count(other))
                check(mtime <= mtimes[name]); // only files no newer than a kept one went
        }
    }
    DIR* dir = ::opendir(outside.constData());
    int targets = 0;
    while (const dirent* entry = ::readdir(dir))
        targets += entry->d_name[0] == 't';
    ::closedir(dir);
    int links = 0;
    dir = ::opendir(folder.constData());
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st;
        links
            += ::lstat((folder + '/' + entry->d_name).constData(), &st) == 0 && S_ISLNK(st.st_mode);
    }
    ::closedir(dir);
    check(targets == links);
    return 0;
}
