#include "Configuration.h"

#include "common/Log.h"

#include <QDateTime>
#include <QFileInfo>
#include <QPair>
#include <QSettings>

namespace {
// A settings file is a few lines; a larger one is not read at all, since the
// reader would parse all of it and keep it in memory.
const qint64 kMaxFileSize = qint64(64) << 10;

QString& configurationFilePath()
{
    static QString path = Configuration::defaultFilePath();
    return path;
}
} // namespace

Configuration::Configuration(const char* /*owner*/)
    : m_filePath(configurationFilePath())
{
}

QString Configuration::filePath() const
{
    return m_filePath;
}

QString Configuration::defaultFilePath()
{
    return QStringLiteral("/opt/quor/data/config/settings.ini");
}

void Configuration::setFilePath(const QString& path)
{
    configurationFilePath() = path;
}

bool Configuration::IsAvailable() const
{
    const QFileInfo info(m_filePath);
    if (!info.isFile() || !info.isReadable())
        return false;
    if (info.size() <= kMaxFileSize)
        return true;
    // Said once for each change of the file, however often it is read.
    static QPair<qint64, QDateTime> reported;
    const QPair<qint64, QDateTime> stamp(info.size(), info.lastModified());
    if (stamp != reported) {
        reported = stamp;
        PM_LOG(2, "[%s:%d] %s: %s is %lld bytes, more than %lld: not read, defaults apply",
            m_filePath.toLocal8Bit().constData(), info.size(), kMaxFileSize);
    }
    return false;
}

int Configuration::ReadConfigValue(
    const QString& group, const QString& key, int defaultValue, bool* ok, bool logInvalid) const
{
    bool converted = false;
    int value = defaultValue;
    const QSettings settings(m_filePath, QSettings::IniFormat);
    const QVariant raw = settings.value(group + QLatin1Char('/') + key);
    if (raw.isValid()) {
        const int parsed = raw.toString().trimmed().toInt(&converted);
        if (converted)
            value = parsed;
        else if (logInvalid)
            PM_LOG(2, "[%s:%d] %s: %s/%s in %s is not an integer, using %d",
                group.toLocal8Bit().constData(), key.toLocal8Bit().constData(),
                m_filePath.toLocal8Bit().constData(), defaultValue);
    }
    if (ok)
        *ok = converted;
    return value;
}

QString Configuration::ReadConfigString(
    const QString& group, const QString& key, const QString& defaultValue, bool* ok) const
{
    const QSettings settings(m_filePath, QSettings::IniFormat);
    const QVariant raw = settings.value(group + QLatin1Char('/') + key);
    if (ok)
        *ok = raw.isValid();
    return raw.isValid() ? raw.toString().trimmed() : defaultValue;
}
