#pragma once

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
    // maxFiles is the count limit unless the settings file sets max_photos.
    FolderManager(const char* path, int maxFiles);

    // Deletes the oldest regular files until every limit holds; files stamped
    // later than the clock (a clock set back) count as older than all others,
    // so the photos taken since are kept. True when
    // they hold afterwards; false when the folder is missing or could not be
    // trimmed far enough. Besides the settings' limits, the folder's file
    // system keeps free the room the next photo needs, as the newest files
    // show it. Free space that an empty folder would still lack is not
    // sought at all: no file goes for it in vain.
    bool RemoveExceedingFiles();
    // Removes the regular file at the path of a capture that failed, if
    // there is one in the folder, without following any link: the daemon
    // named that path for the one capture, so it holds no photo of anyone
    // else's. True when a file was removed.
    bool RemoveFailedCapture(const QString& photoPath) const;

private:
    QDir m_photoDir;
    // Brought up to date before each trim; a cache of the settings file.
    RetentionSettings m_settings;
    // The room the next photo needs, as last found.
    qint64 m_room;
};
