#pragma once

#include "common/RetentionSettings.h"

#include <QDir>

#include <sys/stat.h>

// Keeps the photo folder within its limits by deleting the oldest files: a
// number of files and, where the settings file sets them, the size of the
// files together and the free space left on the folder's file system.
//
// The folder is read and trimmed through a descriptor opened without
// following symbolic links, so nothing outside it is ever deleted: a folder
// that is a symbolic link or a plain file counts as missing, and links,
// sub-folders and hidden files inside it are neither counted nor touched.
class FolderManager {
public:
    // maxFiles is the count limit unless the settings file sets max_photos.
    FolderManager(const char* path, int maxFiles);

    // Deletes the oldest regular files until every limit holds. True when
    // they hold afterwards; false when the folder is missing or could not be
    // trimmed far enough. Free space that an empty folder would still lack
    // is not sought at all: no file goes for it in vain.
    bool RemoveExceedingFiles() const;

private:
    // The folder's regular files as last counted, and the folder then; the
    // count holds while the folder's inode and times are unchanged.
    struct Count {
        dev_t device = 0;
        ino_t inode = 0;
        struct timespec modified = {};
        struct timespec changed = {};
        qint64 files = -1; // -1: none kept
    };

    qint64 regularFiles(int dirFd) const;

    QDir m_photoDir;
    // Brought up to date before each trim; a cache of the settings file.
    mutable RetentionSettings m_settings;
    mutable Count m_count;
};
