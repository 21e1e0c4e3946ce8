#include "RetentionSettings.h"

#include "common/BusNames.h"
#include "common/Log.h"
#include "platform/Configuration.h"

#include <QFile>

#include <sys/stat.h>

namespace {
const char kGroup[] = "PHOTOMANAGER";
const qint64 kMegabyte = qint64(1) << 20;

// What the configuration reader itself compares before it parses the file
// again: its size and modification time.
std::array<qint64, 3> stampOf(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}
} // namespace

RetentionSettings::RetentionSettings(int defaultMaxPhotos)
    : m_defaultMaxPhotos(defaultMaxPhotos)
    , m_maxPhotos(defaultMaxPhotos)
    , m_maxMegabytes(0)
    , m_minFreeMegabytes(0)
    , m_fileStamp{}
{
}

void RetentionSettings::Refresh()
{
    const Configuration configuration(BusNames::kPhotoPath);
    const std::array<qint64, 3> stamp = stampOf(configuration.filePath());
    if (stamp == m_fileStamp)
        return;
    m_fileStamp = stamp;
    const bool available = configuration.IsAvailable();
    m_maxPhotos = available ? readKey(configuration, "max_photos", m_defaultMaxPhotos, 1)
                            : m_defaultMaxPhotos;
    m_maxMegabytes = available ? readKey(configuration, "max_megabytes", 0, 0) : 0;
    m_minFreeMegabytes = available ? readKey(configuration, "min_free_megabytes", 0, 0) : 0;
}

int RetentionSettings::maxPhotos() const
{
    return m_maxPhotos;
}

qint64 RetentionSettings::maxBytes() const
{
    return m_maxMegabytes * kMegabyte;
}

qint64 RetentionSettings::minFreeBytes() const
{
    return m_minFreeMegabytes * kMegabyte;
}

// A missing key is its default, silently. A value that is not an integer is
// reported by the configuration component, one below the minimum here.
int RetentionSettings::readKey(
    const Configuration& configuration, const char* key, int defaultValue, int minimum) const
{
    bool ok = false;
    const int value = configuration.ReadConfigValue(
        QString::fromLatin1(kGroup), QString::fromLatin1(key), defaultValue, &ok, true);
    if (!ok || value >= minimum)
        return value;
    PM_LOG(2, "[%s:%d] %s: %s/%s in %s is out of range, using %d", kGroup, key,
        QFile::encodeName(configuration.filePath()).constData(), defaultValue);
    return defaultValue;
}
