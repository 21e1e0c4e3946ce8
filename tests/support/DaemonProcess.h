#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>

// The real photomanager binary in a private mount namespace in which a
// temporary folder (with photo/ and config/) is mounted at /opt/quor/data,
// so the machine's /opt is never touched. Its log goes to a file, never to a
// pipe that a daemon could block on while the test waits elsewhere. Waits
// are stretched by PHOTOMANAGER_WAIT_SCALE (a factor, default 1) when the
// daemon runs slower than natively, e.g. under emulation.
class DaemonProcess {
public:
    DaemonProcess();
    ~DaemonProcess();

    QString dataDir() const
    {
        return m_dataDir.path();
    }
    QString photoDir() const
    {
        return dataDir() + "/photo";
    }
    bool writeUserEnabled(const QString& value);

    QString runtimeDir() const
    {
        return dataDir() + "/run";
    }
    QString photoMount = "rw"; // photo/ in the namespace, or tmpfs options for its own
    QString stderrFile; // where its standard error goes instead of the log file
    // A program that runs the daemon, such as valgrind; by default the words
    // of PHOTOMANAGER_WRAPPER (qemu-aarch64-static for an arm64 daemon).
    QStringList wrapper;

    // Extra environment entries as "NAME=value".
    bool start(const QStringList& environment = {});
    bool waitForService(int timeoutMs = 20000);
    bool sendSignal(int signal)
    {
        return ::kill(pid_t(process.processId()), signal) == 0;
    }
    bool waitForExit(int timeoutMs = 20000)
    {
        return process.waitForFinished(scaled(timeoutMs));
    }
    bool isRunning() const
    {
        return process.state() != QProcess::NotRunning;
    }
    QProcess process;

    QStringList logLines();
    int countLines(const QString& fragment)
    {
        return logLines().filter(fragment).size();
    }
    bool waitForLine(const QString& fragment, int n = 1, int timeoutMs = 20000);
    void dumpLog();

    static QString sourceDir()
    {
        return qEnvironmentVariable("PHOTOMANAGER_SOURCE_DIR");
    }
    static int scaled(int timeoutMs);

private:
    QTemporaryDir m_dataDir;
    QFile m_log;
    QStringList m_lines; // the complete lines read so far
    QByteArray m_partial; // the start of a line not yet complete
};
