#include "RecordingLog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>

#include <cstdio>

RecordingLog::RecordingLog()
    : LogInterface(QStringLiteral("/test/log"))
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
    m_lines.append({level, QString::fromLocal8Bit(escaped(text)), QString::fromLatin1(objectPath)});
}

const QList<RecordingLog::Line>& RecordingLog::lines() const
{
    return m_lines;
}

void RecordingLog::clear()
{
    m_lines.clear();
}

QString RecordingLog::messageOf(const QString& text)
{
    // "[file:line] signature: message"; the signature itself holds no ": ".
    const int at = text.indexOf(QLatin1String(": "), text.indexOf(QLatin1String("] ")));
    return at < 0 ? text : text.mid(at + 2);
}

QStringList RecordingLog::messages() const
{
    QStringList result;
    for (const Line& line : m_lines)
        result << messageOf(line.text);
    return result;
}

QList<RecordingLog::Line> RecordingLog::matching(const QString& fragment) const
{
    QList<Line> result;
    for (const Line& line : m_lines) {
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
    const QDeadlineTimer deadline(timeoutMs);
    while (count(fragment) < n) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

void RecordingLog::dump() const
{
    for (const Line& line : m_lines)
        std::fprintf(stderr, "  log %u: %s\n", line.level, line.text.toLocal8Bit().constData());
}
