#pragma once

#include <QString>

// The platform's configuration reader. This stand-in reads an INI file on
// every call, so that a changed setting takes effect at once. QSettings
// keeps each parsed file per process, and parses it again only when its size
// or modification time (to the millisecond) has changed.
class Configuration {
public:
    // The owner names the caller to the platform's component; this stand-in
    // has no use for it.
    explicit Configuration(const char* owner);

    // True when the configuration file exists, is readable and is no larger
    // than 64 KiB.
    bool IsAvailable() const;

    // The integer at group/key, or defaultValue when the key is missing or
    // does not hold an integer; *ok tells which. With logInvalid, a value
    // that is present but not an integer is reported at level 2.
    int ReadConfigValue(const QString& group, const QString& key, int defaultValue, bool* ok,
        bool logInvalid) const;

    // The text at group/key, or defaultValue when the key is missing; *ok
    // tells which.
    QString ReadConfigString(
        const QString& group, const QString& key, const QString& defaultValue, bool* ok) const;

    // The file read, for callers that watch it for changes.
    QString filePath() const;

    static QString defaultFilePath();
    // Points every Configuration at another file; for tests only.
    static void setFilePath(const QString& path);

private:
    QString m_filePath;
};
