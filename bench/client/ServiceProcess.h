#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// One service process on a bench bus, its standard error sent to a log file
// (on tmpfs unless the bench is told otherwise: the daemon's trace log is
// required behaviour, but a terminal or a disk would put their own cost into
// its figures) or to /dev/null.
//
// With a data folder it runs in a private mount namespace in which that
// folder is mounted at /opt/quor/data, over a tmpfs hiding the machine's
// /opt. The shell that sets this up writes one byte to standard output just
// before it execs the program, which marks the program's own start.
class ServiceProcess {
public:
    ServiceProcess(const QString& program, const QStringList& arguments, const QString& busAddress);
    ~ServiceProcess();

    void setSandboxDataDir(const QString& dataDir);
    // Appends standard error to this file; /dev/null when empty.
    void setLogFile(const QString& path);
    // XDG_RUNTIME_DIR of the program; left as it is when empty.
    void setRuntimeDir(const QString& path);
    // Runs the program under another one, e.g. valgrind.
    void setPrefix(const QStringList& prefix);

    bool start();
    // SIGTERM, then SIGKILL if it has not ended in time.
    bool stop(int timeoutMs = 10000);
    bool isRunning() const;

    qint64 pid() const;
    // VmRSS from /proc, in KiB; -1 when it cannot be read.
    qint64 residentKiB() const;
    // When the sandbox shell was about to exec the program (nowNs()); 0 until seen.
    qint64 execNs() const;

    QProcess& process();

private:
    QString m_program;
    QStringList m_arguments;
    QString m_busAddress;
    QString m_dataDir;
    QString m_logFile;
    QString m_runtimeDir;
    QStringList m_prefix;
    QProcess m_process;
    qint64 m_execNs;
};
