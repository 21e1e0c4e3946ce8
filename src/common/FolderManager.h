#pragma once

#include "common/PhotoFolderIndex.h"
#include "common/RetentionSettings.h"

#include <QDir>

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
    // Inotify: an index of the folder kept from its events (where inotify
    // cannot be had, a listing at every trim); Off: a listing at every trim.
    enum class Watch { Inotify, Off };

    // maxFiles is the count limit unless the settings file sets max_photos.
    // An existing folder is indexed at once.
    FolderManager(const char* path, int maxFiles, Watch watch = Watch::Inotify);

    // Deletes the oldest regular files until every limit holds; files stamped
    // later than the clock (a clock set back) count as older than all others,
    // so the photos taken since are kept. True when
    // they hold afterwards; false when the folder is missing or could not be
    // trimmed far enough. Besides the settings' limits, the folder's file
    // system keeps free the room the next photo needs, as the newest files
    // show it. Free space that an empty folder would still lack is not
    // sought at all: no file goes for it in vain.
    bool RemoveExceedingFiles() const;
    // Removes the regular file at the path of a capture that failed, if
    // there is one in the folder, without following any link: the daemon
    // named that path for the one capture, so it holds no photo of anyone
    // else's. True when a file was removed.
    bool RemoveFailedCapture(const QString& photoPath) const;

    // The clock that stamps are compared with, in nanoseconds since the
    // epoch; null: the real-time clock. For tests.
    static void setClock(qint64 (*clock)());

private:
    bool watchFolder(int dirFd, qint64 nowNs) const;
    int folderFd(const QByteArray& path, qint64 nowNs) const;

    QDir m_photoDir;
    // Brought up to date before each trim: a cache of the settings file, and
    // of the folder.
    mutable RetentionSettings m_settings;
    // The room the next photo needs, as last found.
    mutable qint64 m_room;
    mutable bool m_watch; // inotify is tried
    mutable bool m_lost; // a watch ended: the next index is said to be a new listing
    mutable PhotoFolderIndex m_index;
};
