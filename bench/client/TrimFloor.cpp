#include "TrimFloor.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {
struct File {
    timespec modified;
    std::string name;
};

bool older(const File& a, const File& b)
{
    if (a.modified.tv_sec != b.modified.tv_sec)
        return a.modified.tv_sec < b.modified.tv_sec;
    return a.modified.tv_nsec < b.modified.tv_nsec;
}
} // namespace

bool trimFolderFloor(const char* path, int maxFiles)
{
    DIR* dir = ::opendir(path);
    if (!dir)
        return false;
    const int dirFd = ::dirfd(dir);
    std::vector<File> files;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st;
        if (entry->d_name[0] != '.'
            && ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISREG(st.st_mode))
            files.push_back({st.st_mtim, entry->d_name});
    }
    std::sort(files.begin(), files.end(), older);
    long excess = static_cast<long>(files.size()) - maxFiles;
    for (const File& file : files) {
        if (excess <= 0)
            break;
        if (::unlinkat(dirFd, file.name.c_str(), 0) == 0)
            --excess;
    }
    ::closedir(dir);
    return excess <= 0;
}
