#pragma once

#include <QString>

// The platform's configuration reader. This stand-in reads an INI file,
// afresh on every call, so that a changed setting takes effect at once.
class Configuration {
public:
    explicit Configuration(const char* owner);

    // True when the configuration file exists and is readable.
    bool IsAvailable() const;

    // The integer at group/key, or defaultValue when the key is missing or
    // does not hold an integer; *ok tells which. With logInvalid, a value
    // that is present but not an integer is reported at level 2.
    int ReadConfigValue(const QString& group, const QString& key, int defaultValue, bool* ok,
        bool logInvalid) const;

    static QString defaultFilePath();
    // Points every Configuration at another file; for tests only.
    static void setFilePath(const QString& path);

private:
    QString m_owner;
    QString m_filePath;
};
