#pragma once

// Sends the daemon's records to the journal in its own protocol (sd-journal),
// so that the source location and the photo a record is about are fields of
// their own (CODE_FILE, CODE_LINE, CODE_FUNC, PHOTO_PATH, PHOTO_STATUS) beside
// MESSAGE, PRIORITY and SYSLOG_IDENTIFIER. Which records go there is the log
// target: the journal itself, standard error (the console), or the journal
// when standard error is connected to it ($JOURNAL_STREAM), as under systemd.
class JournalSink {
public:
    enum Target { Target_Auto, Target_Console, Target_Journal };

    static Target target();
    // Also decides where records go from now on: the journal only when its
    // socket is there, since sd-journal drops records silently otherwise.
    static void setTarget(Target target);

    // False when the record is not for the journal, or the journal refused
    // it: the caller then writes it to standard error.
    static bool Send(int priority, const char* text, const char* file, int line,
        const char* function, const char* photoPath, int photoStatus);

private:
    static bool stderrIsJournal();

    static Target s_target;
    static bool s_toJournal;
};
