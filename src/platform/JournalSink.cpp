#include "JournalSink.h"

#include "common/Log.h"
#include "platform/LogInterface.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

JournalSink::Target JournalSink::s_target = JournalSink::Target_Console;
bool JournalSink::s_toJournal = false;
int JournalSink::s_socket = -1;
unsigned long JournalSink::s_dropped = 0;

namespace {
const char kJournalSocket[] = "/run/systemd/journal/socket";
// A record goes out as one datagram of at most this size; a longer one is
// cut, and says so, rather than passed in a memory file.
const std::size_t kMaxRecord = 8192;
const char kCutMark[] = "[...]";

// The socket records go to, as setTarget last found it.
sockaddr_un& journalAddress()
{
    static sockaddr_un address = {};
    return address;
}

// A record in the journal's native protocol: "NAME=value\n" for each field,
// or, for a value that holds a newline, the name and a newline, the value's
// length as a 64-bit little-endian number, the value and a newline.
class RecordWriter {
public:
    void add(const char* name, const char* value)
    {
        add(name, value, std::strlen(value));
    }
    void add(const char* name, long long value)
    {
        char digits[24];
        add(name, digits,
            static_cast<std::size_t>(std::snprintf(digits, sizeof digits, "%lld", value)));
    }
    void add(const char* name, const char* value, std::size_t length)
    {
        const std::size_t nameLength = std::strlen(name);
        const bool binary = std::memchr(value, '\n', length) != nullptr;
        const std::size_t framing = nameLength + (binary ? 1 + sizeof(std::uint64_t) : 1) + 1;
        if (m_size + framing + sizeof kCutMark > kMaxRecord)
            return;
        const std::size_t room = kMaxRecord - m_size - framing;
        const bool cut = length > room;
        const std::size_t kept = cut ? room - (sizeof kCutMark - 1) : length;
        const std::size_t total = kept + (cut ? sizeof kCutMark - 1 : 0);
        put(name, nameLength);
        if (binary) {
            put("\n", 1);
            for (unsigned byte = 0; byte < sizeof(std::uint64_t); ++byte)
                m_data[m_size++]
                    = static_cast<char>(static_cast<std::uint64_t>(total) >> (8 * byte));
        } else {
            put("=", 1);
        }
        put(value, kept);
        if (cut)
            put(kCutMark, sizeof kCutMark - 1);
        put("\n", 1);
    }
    const char* data() const
    {
        return m_data;
    }
    std::size_t size() const
    {
        return m_size;
    }

private:
    void put(const char* bytes, std::size_t length)
    {
        std::memcpy(m_data + m_size, bytes, length);
        m_size += length;
    }

    char m_data[kMaxRecord];
    std::size_t m_size = 0;
};

// The fields every record of the daemon has but its message, which comes
// after them: a record that must be cut loses the end of its longest fields.
void addSourceFields(
    RecordWriter& record, int priority, const char* file, int line, const char* function)
{
    record.add("PRIORITY", priority);
    record.add("SYSLOG_IDENTIFIER", "photomanager");
    record.add("CODE_FILE", file);
    record.add("CODE_LINE", line);
    record.add("CODE_FUNC", function);
}
} // namespace

JournalSink::Target JournalSink::target()
{
    return s_target;
}

QByteArray JournalSink::socketPath()
{
    const QByteArray path = qgetenv("PHOTOMANAGER_JOURNAL_SOCKET");
    return path.isEmpty() ? QByteArray(kJournalSocket) : path;
}

void JournalSink::setTarget(Target target)
{
    s_target = target;
    struct stat st;
    const QByteArray path = socketPath();
    sockaddr_un& address = journalAddress();
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    const bool reachable = ::stat(path.constData(), &st) == 0 && S_ISSOCK(st.st_mode);
    s_toJournal
        = reachable && (target == Target_Journal || (target == Target_Auto && stderrIsJournal()));
    if (s_toJournal && s_socket < 0)
        s_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
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

// Sent to the socket's name each time, so that a journal started anew is
// found again.
JournalSink::Delivery JournalSink::deliver(const char* record, std::size_t length)
{
    const sockaddr_un& address = journalAddress();
    ssize_t sent;
    do
        sent = ::sendto(s_socket, record, length, MSG_NOSIGNAL,
            reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (sent < 0 && errno == EINTR);
    if (sent >= 0)
        return Delivery::Sent;
    // Full (a journal that does not read) or too small a send buffer.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS || errno == EMSGSIZE)
        return Delivery::Dropped;
    return Delivery::Refused;
}

JournalSink::Delivery JournalSink::sendLostCount()
{
    const char* const function = static_cast<const char*>(__PRETTY_FUNCTION__);
    char notice[512];
    std::snprintf(notice, sizeof notice,
        "[%s:%d] %s: %lu log lines lost: the journal was not ready to take them",
        PHOTOMANAGER_LOG_SOURCE, __LINE__, function, s_dropped);
    RecordWriter record;
    addSourceFields(record, 4, PHOTOMANAGER_LOG_SOURCE, __LINE__, function);
    record.add("MESSAGE", notice);
    const Delivery delivery = deliver(record.data(), record.size());
    if (delivery == Delivery::Sent)
        s_dropped = 0;
    return delivery;
}

bool JournalSink::Send(int priority, const char* text, const char* file, int line,
    const char* function, const char* photoPath, int photoStatus)
{
    if (!s_toJournal || s_socket < 0)
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
    // The count of lost records goes first, so that it stands where they are
    // missing; a journal gone meanwhile leaves it for when it is back.
    const Delivery lost = s_dropped > 0 ? sendLostCount() : Delivery::Sent;
    if (lost != Delivery::Sent)
        return lost == Delivery::Dropped && ++s_dropped;
    RecordWriter record;
    addSourceFields(record, priority, file, line, function);
    if (photoPath)
        record.add("PHOTO_STATUS", photoStatus);
    record.add("MESSAGE", text);
    if (photoPath)
        record.add("PHOTO_PATH", photoPath);
    switch (deliver(record.data(), record.size())) {
    case Delivery::Sent:
        return true;
    case Delivery::Dropped:
        ++s_dropped;
        return true;
    case Delivery::Refused:
        break;
    }
    return false;
}
