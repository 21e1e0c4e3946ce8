#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The real photomanager binary in a private mount namespace in which a
// temporary folder (with photo/ and config/) is mounted at /opt/quor/data,
// so the machine's /opt is never touched. Its log goes to a file, never to a
// pipe that a daemon could block on while the test waits elsewhere.
class DaemonProcess {
public:
    DaemonProcess();
    ~DaemonProcess();

    QString dataDir() const;
    QString photoDir() const;
    bool writeUserEnabled(const QString& value);

    bool readOnlyPhotos = false; // photo/ mounted read-only in the namespace
    // A program that runs the daemon, such as valgrind; by default the words
    // of PHOTOMANAGER_WRAPPER (qemu-aarch64-static for an arm64 daemon).
    QStringList wrapper;

    // Extra environment entries as "NAME=value".
    bool start(const QStringList& environment = {});
    bool waitForService(int timeoutMs = 20000);
    bool sendSignal(int signal);
    bool waitForExit(int timeoutMs = 20000);
    bool isRunning() const;
    QProcess process;

    QStringList logLines();
    int countLines(const QString& fragment);
    bool waitForLine(const QString& fragment, int n = 1, int timeoutMs = 20000);
    void dumpLog();

    static QString sourceDir();

private:
    QTemporaryDir m_dataDir;
    QFile m_log;
    QStringList m_lines;
    QByteArray m_partial;
};
