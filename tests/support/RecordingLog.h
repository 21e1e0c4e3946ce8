#pragma once

#include "platform/LogInterface.h"

#include <QList>
#include <QString>

// Records the daemon's log lines in the test process instead of printing
// them. Installed as _logInterface for the lifetime of the object.
class RecordingLog : public LogInterface {
public:
    struct Line {
        unsigned int level;
        QString text;
        QString objectPath;
    };

    RecordingLog();
    ~RecordingLog() override;

    void EmitLogString(unsigned int level, const char* text, const char* objectPath) override;

    const QList<Line>& lines() const;
    void clear();
    // The message parts (text after "function: ") of all lines, in order.
    QStringList messages() const;
    // Lines whose message contains the fragment.
    QList<Line> matching(const QString& fragment) const;
    int count(const QString& fragment) const;
    bool contains(const QString& fragment) const;
    // Waits, serving the event loop, until count(fragment) >= n.
    bool waitFor(const QString& fragment, int n = 1, int timeoutMs = 10000) const;
    // Prints every recorded line to standard error (for a failing test).
    void dump() const;

    static QString messageOf(const QString& text);

private:
    QList<Line> m_lines;
    LogInterface* m_previous;
};
