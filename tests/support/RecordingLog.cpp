#include "RecordingLog.h"

#include <QTest>

#include <cstdio>

RecordingLog::RecordingLog()
    : LogInterface("/test/log")
    , m_previous(_logInterface)
{
    _logInterface = this;
}

RecordingLog::~RecordingLog()
{
    _logInterface = m_previous;
}

void RecordingLog::EmitLogString(unsigned int level, const char* text, const char* objectPath)
{
    if (qstrcmp(objectPath, "/com/zandrel/quor/photomanager/photoobj") != 0)
        qFatal("log line for another object: %s", objectPath);
    lines.append({level, QString::fromLocal8Bit(escaped(text))});
}

QStringList RecordingLog::messages() const
{
    QStringList result;
    for (const Line& line : lines) // the signature holds no ": "
        result << line.text.mid(line.text.indexOf(": ", line.text.indexOf("] ")) + 2);
    return result;
}

QList<RecordingLog::Line> RecordingLog::matching(const QString& fragment) const
{
    QList<Line> result;
    for (const Line& line : lines) {
        if (line.text.contains(fragment))
            result << line;
    }
    return result;
}

int RecordingLog::count(const QString& fragment) const
{
    return matching(fragment).size();
}

bool RecordingLog::contains(const QString& fragment) const
{
    return count(fragment) > 0;
}

bool RecordingLog::waitFor(const QString& fragment, int n, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return count(fragment) >= n; }, timeoutMs);
}

void RecordingLog::dump() const
{
    for (const Line& line : lines)
        std::fprintf(stderr, "  log %u: %s\n", line.level, qPrintable(line.text));
}
