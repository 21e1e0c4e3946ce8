#include "LogInterface.h"

#include <unistd.h>

#include <cerrno>

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
    QByteArray out;
    for (const char* p = text; p && *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != 0x7f) {
            out.append(*p);
            continue;
        }
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
