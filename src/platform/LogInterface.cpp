#include "LogInterface.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

LogInterface* _logInterface = nullptr;

LogInterface::LogInterface(const QString& objectPath)
    : m_objectPath(objectPath)
{
}

LogInterface::~LogInterface() = default;

int LogInterface::syslogPriority(unsigned int level)
{
    switch (level) {
    case 1:
        return 3;
    case 2:
        return 4;
    case 4:
        return 5;
    default:
        return 7;
    }
}

QByteArray LogInterface::escaped(const char* text)
{
    static const char hex[] = "0123456789abcdef";
    const auto plain = [](unsigned char c) { return c >= 0x20 && c != 0x7f; };
    QByteArray out;
    if (!text)
        return out;
    out.reserve(static_cast<int>(std::strlen(text)) + 8);
    for (const char* p = text; *p;) {
        // Printable runs are copied whole; every line is mostly one such run.
        const char* run = p;
        while (*p && plain(static_cast<unsigned char>(*p)))
            ++p;
        out.append(run, static_cast<int>(p - run));
        if (!*p)
            break;
        const auto c = static_cast<unsigned char>(*p++);
        switch (c) {
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            out.append("\\x");
            out.append(hex[c >> 4]);
            out.append(hex[c & 0xf]);
        }
    }
    return out;
}

void LogInterface::EmitLogString(unsigned int level, const char* text, const char* /*objectPath*/)
{
    QByteArray line = "<" + QByteArray::number(syslogPriority(level)) + ">";
    line.append(escaped(text));
    line.append('\n');
    // A single write keeps concurrent writers from interleaving inside a line.
    const char* data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        left -= written;
    }
}
