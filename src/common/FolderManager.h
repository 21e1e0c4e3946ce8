#pragma once

#include <QDir>

// Keeps the photo folder within a number of files by deleting the oldest.
//
// The folder is read and trimmed through a descriptor opened without
// following symbolic links, so nothing outside it is ever deleted: a folder
// that is a symbolic link or a plain file counts as missing, and links,
// sub-folders and hidden files inside it are neither counted nor touched.
class FolderManager {
public:
    FolderManager(const char* path, int maxFiles);

    // Deletes the oldest regular files beyond the limit. True when the folder
    // is within the limit afterwards; false when it is missing or could not
    // be trimmed far enough.
    bool RemoveExceedingFiles() const;

    // -1 when the folder does not exist, otherwise QDir::count().
    int EntriesCount() const;

private:
    QDir m_photoDir;
    int m_maxFiles;
};
