#pragma once

#include <QtGlobal>

#include <array>

class Configuration;

// The photo folder's limits as the settings file sets them, in the group
// [PHOTOMANAGER]: max_photos (the count; the default is the daemon's own),
// max_megabytes (the files' sizes together) and min_free_megabytes (free
// space left on the folder's file system), the last two 0 for no limit.
//
// The file is parsed again only when its size or modification time has
// changed, so a photo costs one stat of it; a bad value is reported once per
// change and its default used instead.
class RetentionSettings {
public:
    explicit RetentionSettings(int defaultMaxPhotos);

    // Re-reads the settings when the file has changed since the last call.
    void Refresh();

    int maxPhotos() const;
    // 0: no limit.
    qint64 maxBytes() const;
    qint64 minFreeBytes() const;

private:
    int readKey(
        const Configuration& configuration, const char* key, int defaultValue, int minimum) const;

    int m_defaultMaxPhotos;
    int m_maxPhotos;
    int m_maxMegabytes;
    int m_minFreeMegabytes;
    // What the file looked like when last read; all zero while it is missing.
    std::array<qint64, 3> m_fileStamp;
};
