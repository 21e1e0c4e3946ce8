#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The real photomanager binary, run in a private mount namespace in which a
// temporary folder is mounted at /opt/quor/data, so that the machine's /opt
// is never touched. Its log (standard error) is collected line by line.
class DaemonProcess {
public:
    DaemonProcess();
    ~DaemonProcess();

    // The folder mounted at /opt/quor/data; photo/ and config/ are made in it.
    QString dataDir() const;
    QString photoDir() const;
    // Writes config/settings.ini with IPCAMERA/user_enabled.
    bool writeUserEnabled(const QString& value);

    // Mounts the photo folder read-only inside the daemon's namespace.
    void setReadOnlyPhotos(bool readOnly);
    // Runs the daemon under a program such as valgrind.
    void setWrapper(const QStringList& command);
    // Starts the daemon; extra environment entries as "NAME=value".
    bool start(const QStringList& extraEnvironment = QStringList());
    // Waits until the daemon owns its service name on the session bus.
    bool waitForService(int timeoutMs = 20000);
    bool sendSignal(int signal);
    bool waitForExit(int timeoutMs = 20000);
    int exitCode() const;
    QProcess::ExitStatus exitStatus() const;
    bool isRunning() const;

    // The log lines written so far (priority prefix included).
    QStringList logLines();
    int countLines(const QString& fragment);
    bool waitForLine(const QString& fragment, int n = 1, int timeoutMs = 20000);
    // Prints the collected log to standard error (for a failing test).
    void dumpLog();

    static QString binaryPath();
    static QString sourceDir();

private:
    void collect();

    QTemporaryDir m_dataDir;
    QProcess m_process;
    QStringList m_lines;
    QString logPath() const;

    QFile m_log;
    QByteArray m_partial;
    bool m_readOnlyPhotos = false;
    QStringList m_wrapper;
};
