#include "JournalSink.h"

#include "platform/LogInterface.h"

#include <QByteArray>

#include <sys/stat.h>
#include <sys/uio.h>
// The location fields are the record's own, not this call's.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

JournalSink::Target JournalSink::s_target = JournalSink::Target_Console;
bool JournalSink::s_toJournal = false;

namespace {
const char kJournalSocket[] = "/run/systemd/journal/socket";

// "NAME=value" into buffer, cut to its size; the length written.
std::size_t field(char* buffer, std::size_t size, const char* name, const char* value)
{
    const int length = std::snprintf(buffer, size, "%s=%s", name, value);
    return length < 0 ? 0 : std::min(static_cast<std::size_t>(length), size - 1);
}
} // namespace

JournalSink::Target JournalSink::target()
{
    return s_target;
}

void JournalSink::setTarget(Target target)
{
    s_target = target;
    struct stat st;
    const bool reachable = ::stat(kJournalSocket, &st) == 0 && S_ISSOCK(st.st_mode);
    s_toJournal
        = reachable && (target == Target_Journal || (target == Target_Auto && stderrIsJournal()));
}

// systemd names the stream it connects to standard error as "device:inode".
bool JournalSink::stderrIsJournal()
{
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0, inode = 0;
    struct stat st;
    return stream && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2
        && ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

bool JournalSink::Send(int priority, const char* text, const char* file, int line,
    const char* function, const char* photoPath, int photoStatus)
{
    if (!s_toJournal)
        return false;
    // The same text as on standard error: control characters escaped.
    QByteArray escaped;
    for (const char* p = text; *p; ++p) {
        if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f) {
            escaped = LogInterface::escaped(text);
            text = escaped.constData();
            break;
        }
    }
    char message[8 + 4 * 512], code[4][256], photo[2][512];
    char number[16];
    iovec fields[9];
    int n = 0;
    const auto add = [&](char* buffer, std::size_t size, const char* name, const char* value) {
        fields[n].iov_base = buffer;
        fields[n++].iov_len = field(buffer, size, name, value);
    };
    add(message, sizeof message, "MESSAGE", text);
    std::snprintf(number, sizeof number, "%d", priority);
    add(code[0], sizeof code[0], "PRIORITY", number);
    add(code[1], sizeof code[1], "CODE_FILE", file);
    std::snprintf(number, sizeof number, "%d", line);
    add(code[2], sizeof code[2], "CODE_LINE", number);
    add(code[3], sizeof code[3], "CODE_FUNC", function);
    fields[n].iov_base = const_cast<char*>("SYSLOG_IDENTIFIER=photomanager");
    fields[n++].iov_len = std::strlen("SYSLOG_IDENTIFIER=photomanager");
    if (photoPath) {
        add(photo[0], sizeof photo[0], "PHOTO_PATH", photoPath);
        std::snprintf(number, sizeof number, "%d", photoStatus);
        add(photo[1], sizeof photo[1], "PHOTO_STATUS", number);
    }
    return sd_journal_sendv(fields, n) >= 0;
}
