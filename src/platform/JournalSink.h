#pragma once

#include <QByteArray>

// Sends the daemon's records to the journal in its own protocol, so that the
// source location and the photo a record is about are fields of their own
// (CODE_FILE, CODE_LINE, CODE_FUNC, PHOTO_PATH, PHOTO_STATUS) beside MESSAGE,
// PRIORITY and SYSLOG_IDENTIFIER. Which records go there is the log target:
// the journal itself, standard error (the console), or the journal when
// standard error is connected to it ($JOURNAL_STREAM), as under systemd.
//
// Records go out as datagrams on a non-blocking socket of the sink's own: a
// journal that does not read never holds the daemon. A record it cannot take
// at once is dropped and counted, and the next one that goes through is
// preceded by a record with the count.
class JournalSink {
public:
    enum Target { Target_Auto, Target_Console, Target_Journal };

    static Target target();
    // Also decides where records go from now on: the journal only when its
    // socket is there.
    static void setTarget(Target target);

    // False when the record is not for the journal, or the journal's socket
    // refused it (it is gone, nobody listens): the caller then writes it to
    // standard error. True when it was sent, or dropped and counted.
    static bool Send(int priority, const char* text, const char* file, int line,
        const char* function, const char* photoPath, int photoStatus);

    // The journal's socket; $PHOTOMANAGER_JOURNAL_SOCKET names another for tests.
    static QByteArray socketPath();

private:
    enum class Delivery { Sent, Dropped, Refused };
    static Delivery deliver(const char* record, std::size_t length);
    static Delivery sendLostCount();
    static bool stderrIsJournal();

    static Target s_target;
    static bool s_toJournal;
    static int s_socket;
    // Records the socket could not take at once since the last one it took.
    static unsigned long s_dropped;
};
