#pragma once

#include "platform/LogInterface.h"

#include <QStringList>

// Records the daemon's log lines in the test process; installed as
// _logInterface for its lifetime.
class RecordingLog : public LogInterface {
public:
    struct Line {
        unsigned int level;
        QString text;
    };

    RecordingLog();
    ~RecordingLog() override;
    void EmitLogString(unsigned int level, const char* text, const char* objectPath) override;

    QList<Line> lines;
    // The message part ("[file:line] signature: message") of every line.
    QStringList messages() const;
    QList<Line> matching(const QString& fragment) const;
    int count(const QString& fragment) const;
    bool contains(const QString& fragment) const;
    // Serves the event loop until count(fragment) >= n.
    bool waitFor(const QString& fragment, int n = 1, int timeoutMs = 10000) const;
    void dump() const;

private:
    LogInterface* m_previous;
};
