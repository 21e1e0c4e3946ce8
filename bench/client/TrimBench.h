#pragma once

#include <QString>
#include <QVector>

class ResultTable;

// FolderManager (made, which indexes the folder, and its first
// RemoveExceedingFiles), as linked into the daemon, against a
// plain C++ trim, on folders of several sizes with a limit of 100. Each run
// gets a freshly made folder whose modification times are shuffled against
// the names, so the sort has work to do.
class TrimBench {
public:
    struct Size {
        int files;
        int runs;
    };

    TrimBench(const QString& scratchDir, const QVector<Size>& sizes);

    bool run(ResultTable& table);

private:
    bool makeFolder(const QString& dir, int files, unsigned seed) const;
    bool removeFolder(const QString& dir) const;
    // Milliseconds of one trim, negative when it went wrong.
    double trimOnce(bool daemon, int files, unsigned seed) const;

    QString m_scratchDir;
    QVector<Size> m_sizes;
};
