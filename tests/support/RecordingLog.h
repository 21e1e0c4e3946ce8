#pragma once

#include "common/BusNames.h"
#include "platform/LogInterface.h"

#include <QStringList>
#include <QTest>

#include <cstdio>
#include <functional>

// Records the daemon's log lines in the test process; installed as
// _logInterface for its lifetime.
class RecordingLog : public LogInterface {
public:
    struct Line {
        unsigned int level;
        QString text;
    };
    QList<Line> lines;
    std::function<void(const QString&)> onLine; // called with each line as it comes

    RecordingLog()
        : LogInterface("/test/log")
        , m_previous(_logInterface)
    {
        _logInterface = this;
    }
    ~RecordingLog() override
    {
        _logInterface = m_previous;
    }
    void EmitLogString(unsigned int level, const char* text, const char* objectPath) override
    {
        if (qstrcmp(objectPath, BusNames::kPhotoPath) != 0)
            qFatal("log line for another object: %s", objectPath);
        lines.append({level, QString::fromLocal8Bit(escaped(text))});
        if (onLine)
            onLine(lines.last().text);
    }
    // The message part ("[file:line] signature: message") of every line.
    QStringList messages() const
    {
        QStringList result;
        for (const Line& line : lines) // the signature holds no ": "
            result << line.text.mid(line.text.indexOf(": ", line.text.indexOf("] ")) + 2);
        return result;
    }
    // The levels of the lines that hold the fragment, in order.
    QList<unsigned int> levels(const QString& fragment) const
    {
        QList<unsigned int> result;
        for (const Line& line : lines)
            if (line.text.contains(fragment))
                result << line.level;
        return result;
    }
    bool waitFor(const QString& fragment, int n = 1, int timeoutMs = 10000) const
    {
        return QTest::qWaitFor([&] { return levels(fragment).size() >= n; }, timeoutMs);
    }
    void dump() const
    {
        for (const Line& line : lines)
            std::fprintf(stderr, "  log %u: %s\n", line.level, qPrintable(line.text));
    }

private:
    LogInterface* m_previous;
};
