#pragma once

#include <QString>

// The platform's logging component. This stand-in writes each record as one
// line on standard error with an sd-daemon priority prefix, so that journald
// files it at the right priority when the daemon runs as a systemd service.
class LogInterface {
public:
    explicit LogInterface(const QString& objectPath);
    virtual ~LogInterface();

    LogInterface(const LogInterface&) = delete;
    LogInterface& operator=(const LogInterface&) = delete;

    // One call is one record: the text is written as data, never as a format,
    // and control characters in it are escaped so that it stays on one line.
    // A record that standard error cannot take at once is dropped and
    // counted; the next one written is preceded by a line with the count.
    virtual void EmitLogString(unsigned int level, const char* text, const char* objectPath);

    // The text as EmitLogString writes it, without prefix and newline.
    static QByteArray escaped(const char* text);
    // sd-daemon priority for a log level: 1 -> 3 (err), 2 -> 4 (warning),
    // 4 -> 5 (notice), anything else -> 7 (debug).
    static int syslogPriority(unsigned int level);

private:
    bool writeRecord(unsigned int level, const char* text);
    bool writeLostCount();

    QString m_objectPath;
    // Lines that standard error could not take at once since the last one it took.
    unsigned long m_dropped = 0;
};

// The one logging component of the process, set by main before anything logs.
// The platform's components loaded into the process look it up by this name.
extern LogInterface* _logInterface; // NOLINT(bugprone-reserved-identifier): the platform's name
