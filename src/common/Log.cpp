#include "Log.h"

#include "BusNames.h"

#include "platform/JournalSink.h"
#include "platform/LogInterface.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int photomanagerLogThreshold = 7;

namespace {
const char* const kPriorityNames[]
    = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};

// Longer lines are cut at 511 characters.
const std::size_t kLineSize = 512;

// True when every conversion of the format is %s, %d or %%, as in all the
// daemon's own lines; those are formatted here, anything else by vsnprintf.
bool onlyPlainConversions(const char* format)
{
    for (const char* p = std::strchr(format, '%'); p; p = std::strchr(p + 2, '%')) {
        if (p[1] != 's' && p[1] != 'd' && p[1] != '%')
            return false;
    }
    return true;
}

// A bounded writer of one line: it keeps what fits and drops the rest, as
// vsnprintf does.
class LineWriter {
public:
    explicit LineWriter(char* line)
        : m_out(line)
        , m_end(line + kLineSize - 1)
    {
    }
    void put(const char* text, std::size_t length)
    {
        const auto room = static_cast<std::size_t>(m_end - m_out);
        const std::size_t n = length < room ? length : room;
        std::memcpy(m_out, text, n);
        m_out += n;
    }
    void put(const char* text)
    {
        // vsnprintf writes a null string argument this way.
        put(text ? text : "(null)", std::strlen(text ? text : "(null)"));
    }
    void put(int value)
    {
        char digits[12];
        char* first = digits + sizeof digits;
        // Negated as unsigned, so that the lowest int has its digits too.
        unsigned int magnitude
            = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
        do {
            *--first = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0)
            *--first = '-';
        put(first, static_cast<std::size_t>(digits + sizeof digits - first));
    }
    void finish()
    {
        *m_out = '\0';
    }

private:
    char* m_out;
    char* m_end;
};

// The same text as vsnprintf(line, kLineSize, format, args) for a format of
// plain conversions, without the general machinery (the daemon writes a line
// for nearly every step of a photo).
void formatPlain(char* line, const char* format, va_list args)
{
    LineWriter out(line);
    const char* p = format;
    for (const char* percent = std::strchr(p, '%'); percent; percent = std::strchr(p, '%')) {
        out.put(p, static_cast<std::size_t>(percent - p));
        switch (percent[1]) {
        case 's':
            out.put(va_arg(args, const char*));
            break;
        case 'd':
            out.put(va_arg(args, int));
            break;
        default:
            out.put("%", 1);
        }
        p = percent + 2;
    }
    out.put(p);
    out.finish();
}
} // namespace

const char* photomanagerLogPriorityName(int priority)
{
    return priority >= 0 && priority <= 7 ? kPriorityNames[priority] : "";
}

// A digit too, as systemctl service-log-level passes it on.
int photomanagerLogPriorityNamed(const char* name)
{
    if (name[0] >= '0' && name[0] <= '7' && name[1] == '\0')
        return name[0] - '0';
    for (int priority = 0; priority <= 7; ++priority) {
        if (std::strcmp(name, kPriorityNames[priority]) == 0)
            return priority;
    }
    return -1;
}

void photomanagerLog(unsigned int level, const char* file, int line, const char* function,
    const char* photoPath, int photoStatus, const char* format, ...)
{
    if (!_logInterface)
        return;
    char text[kLineSize];
    va_list args;
    va_start(args, format);
    if (onlyPlainConversions(format))
        formatPlain(text, format, args);
    else
        std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (!JournalSink::Send(
            photomanagerLogPriority(level), text, file, line, function, photoPath, photoStatus))
        _logInterface->EmitLogString(level, text, BusNames::kPhotoPath);
}
