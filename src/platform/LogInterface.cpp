#include "LogInterface.h"

#include "common/Log.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

LogInterface* _logInterface = nullptr;

LogInterface::LogInterface(const QString& objectPath)
    : m_objectPath(objectPath)
{
}

LogInterface::~LogInterface() = default;

int LogInterface::syslogPriority(unsigned int level)
{
    return photomanagerLogPriority(level);
}

namespace {
// Escapes at most four bytes out for each byte in.
const std::size_t kEscapeGrowth = 4;

// True when none of the eight bytes needs escaping (none below 0x20, none
// 0x7f), tested at once: a byte below 0x20 borrows into its top bit when 0x20
// is taken from it, and 0x7f becomes zero when xored with it.
bool plainWord(const char* bytes)
{
    const std::uint64_t ones = 0x0101010101010101u;
    const std::uint64_t tops = 0x8080808080808080u;
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    const std::uint64_t del = word ^ (0x7f * ones);
    return ((((word - 0x20 * ones) & ~word) | ((del - ones) & ~del)) & tops) == 0;
}

// Writes the text escaped to out, which holds kEscapeGrowth bytes for each
// byte of it; returns the end of what was written.
char* escapeInto(const char* text, std::size_t length, char* out)
{
    static const char hex[] = "0123456789abcdef";
    const auto plain = [](unsigned char c) { return c >= 0x20 && c != 0x7f; };
    const char* const end = text + length;
    for (const char* p = text; p != end;) {
        // Printable runs are copied whole; every line is mostly one such run,
        // scanned eight bytes at a time.
        const char* run = p;
        while (end - p >= 8 && plainWord(p))
            p += 8;
        while (p != end && plain(static_cast<unsigned char>(*p)))
            ++p;
        std::memcpy(out, run, static_cast<std::size_t>(p - run));
        out += p - run;
        if (p == end)
            break;
        const auto c = static_cast<unsigned char>(*p++);
        *out++ = '\\';
        switch (c) {
        case '\n':
            *out++ = 'n';
            break;
        case '\r':
            *out++ = 'r';
            break;
        case '\t':
            *out++ = 't';
            break;
        default:
            *out++ = 'x';
            *out++ = hex[c >> 4];
            *out++ = hex[c & 0xf];
        }
    }
    return out;
}

// Standard error as this process writes to it without ever blocking: a
// socket takes MSG_DONTWAIT and a regular file never blocks, so both are
// written as they are; anything else (a pipe, a terminal, /dev/null) is
// opened anew with O_NONBLOCK, a file description of its own, so that the
// flag does not reach the other processes that share standard error.
struct ErrorOutput {
    int fd = STDERR_FILENO;
    bool socket = false;
    bool poll = false; // no descriptor of its own: ask poll first

    ErrorOutput()
    {
        struct stat st;
        if (::fstat(STDERR_FILENO, &st) != 0 || S_ISREG(st.st_mode))
            return;
        socket = S_ISSOCK(st.st_mode);
        if (socket)
            return;
        fd = ::open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        poll = fd < 0;
        if (poll)
            fd = STDERR_FILENO;
    }
};

// Writes a whole line to standard error only when that cannot block: a
// stalled reader (a busy journal, a stuck pager) must never hold the daemon.
// A non-blocking pipe takes a line of up to PIPE_BUF bytes whole or not at
// all. False when the line was not written, or not whole.
bool writeWithoutBlocking(const char* data, std::size_t length)
{
    static const ErrorOutput out;
    if (out.socket)
        return ::send(out.fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL)
            == static_cast<ssize_t>(length);
    struct pollfd ready = {out.fd, POLLOUT, 0};
    if (out.poll && (::poll(&ready, 1, 0) != 1 || !(ready.revents & POLLOUT)))
        return false;
    ssize_t written;
    do
        written = ::write(out.fd, data, length);
    while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(length);
}
} // namespace

QByteArray LogInterface::escaped(const char* text)
{
    QByteArray out;
    if (!text)
        return out;
    const std::size_t length = std::strlen(text);
    out.resize(static_cast<int>(length * kEscapeGrowth));
    out.resize(static_cast<int>(escapeInto(text, length, out.data()) - out.data()));
    return out;
}

void LogInterface::EmitLogString(unsigned int level, const char* text, const char* /*objectPath*/)
{
    // The count of lost lines goes first, so that it stands where they are missing.
    if ((m_dropped > 0 && !writeLostCount()) || !writeRecord(level, text))
        ++m_dropped;
}

bool LogInterface::writeLostCount()
{
    char notice[512];
    std::snprintf(notice, sizeof notice,
        "[%s:%d] %s: %lu log lines lost: standard error was not ready to take them",
        PHOTOMANAGER_LOG_SOURCE, __LINE__, static_cast<const char*>(__PRETTY_FUNCTION__),
        m_dropped);
    if (!writeRecord(2, notice))
        return false;
    m_dropped = 0;
    return true;
}

bool LogInterface::writeRecord(unsigned int level, const char* text)
{
    const std::size_t length = text ? std::strlen(text) : 0;
    // The daemon's own lines (at most 511 bytes) are built on the stack; a
    // longer text from a platform library takes the heap.
    char stackLine[4 + 511 * kEscapeGrowth + 1];
    std::unique_ptr<char[]> heapLine;
    char* line = stackLine;
    if (length > 511) {
        heapLine.reset(new char[4 + length * kEscapeGrowth + 1]);
        line = heapLine.get();
    }
    char* out = line;
    *out++ = '<';
    *out++ = static_cast<char>('0' + syslogPriority(level));
    *out++ = '>';
    out = escapeInto(text, length, out);
    *out++ = '\n';
    // A single write keeps concurrent writers from interleaving inside a line.
    return writeWithoutBlocking(line, static_cast<std::size_t>(out - line));
}
