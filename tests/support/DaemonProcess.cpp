#include "DaemonProcess.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <signal.h>

namespace {
const char kServiceName[] = "com.zandrel.quor.photomanager";

// Hides the machine's /opt behind a tmpfs inside the namespace, then mounts
// the test's folder at /opt/quor/data and replaces the shell by the daemon,
// which keeps the process id, so signals reach the daemon itself.
const char kSandboxScript[] = "set -e\n"
                              "mount -t tmpfs tmpfs /opt\n"
                              "mkdir -p /opt/quor/data\n"
                              "mount --bind \"$1\" /opt/quor/data\n"
                              "if [ \"$2\" = ro ]; then\n"
                              "  mount --bind /opt/quor/data/photo /opt/quor/data/photo\n"
                              "  mount -o remount,bind,ro /opt/quor/data/photo\n"
                              "fi\n"
                              "shift 2\n"
                              "exec \"$@\"\n";
} // namespace

DaemonProcess::DaemonProcess()
{
    QDir(m_dataDir.path()).mkpath(QStringLiteral("photo"));
    QDir(m_dataDir.path()).mkpath(QStringLiteral("config"));
}

DaemonProcess::~DaemonProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString DaemonProcess::binaryPath()
{
    return QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_BINARY"));
}

QString DaemonProcess::sourceDir()
{
    return QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_SOURCE_DIR"));
}

QString DaemonProcess::logPath() const
{
    return m_dataDir.path() + QStringLiteral("/daemon.log");
}

QString DaemonProcess::dataDir() const
{
    return m_dataDir.path();
}

QString DaemonProcess::photoDir() const
{
    return m_dataDir.path() + QStringLiteral("/photo");
}

bool DaemonProcess::writeUserEnabled(const QString& value)
{
    QFile file(m_dataDir.path() + QStringLiteral("/config/settings.ini"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write("[IPCAMERA]\nuser_enabled=" + value.toUtf8() + "\n");
    return true;
}

void DaemonProcess::setReadOnlyPhotos(bool readOnly)
{
    m_readOnlyPhotos = readOnly;
}

void DaemonProcess::setWrapper(const QStringList& command)
{
    m_wrapper = command;
}

bool DaemonProcess::start(const QStringList& extraEnvironment)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : extraEnvironment) {
        const int at = entry.indexOf(QLatin1Char('='));
        if (at < 0)
            environment.remove(entry);
        else
            environment.insert(entry.left(at), entry.mid(at + 1));
    }
    m_process.setProcessEnvironment(environment);
    // The log goes to a file, not a pipe: a daemon that logs while the test
    // waits for it elsewhere must never block on a full pipe.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(logPath());
    m_log.close();
    const QStringList sandbox{QStringLiteral("--mount"), QStringLiteral("--"),
        QStringLiteral("/bin/sh"), QStringLiteral("-c"), QString::fromLatin1(kSandboxScript),
        QStringLiteral("sandbox"), m_dataDir.path(),
        m_readOnlyPhotos ? QStringLiteral("ro") : QStringLiteral("rw")};
    m_process.start(QStringLiteral("unshare"), sandbox + m_wrapper + QStringList{binaryPath()});
    return m_process.waitForStarted(10000);
}

bool DaemonProcess::waitForService(int timeoutMs)
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    const QDeadlineTimer deadline(timeoutMs);
    while (!bus->isServiceRegistered(QString::fromLatin1(kServiceName)).value()) {
        collect();
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForFinished(20);
        QCoreApplication::processEvents();
    }
    return true;
}

bool DaemonProcess::sendSignal(int signal)
{
    return ::kill(static_cast<pid_t>(m_process.processId()), signal) == 0;
}

bool DaemonProcess::waitForExit(int timeoutMs)
{
    const bool finished = m_process.waitForFinished(timeoutMs);
    collect();
    return finished;
}

int DaemonProcess::exitCode() const
{
    return m_process.exitCode();
}

QProcess::ExitStatus DaemonProcess::exitStatus() const
{
    return m_process.exitStatus();
}

bool DaemonProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

void DaemonProcess::collect()
{
    if (!m_log.isOpen()) {
        m_log.setFileName(logPath());
        if (!m_log.open(QIODevice::ReadOnly))
            return;
    }
    m_partial += m_log.readAll();
    int end;
    while ((end = m_partial.indexOf('\n')) >= 0) {
        m_lines << QString::fromLocal8Bit(m_partial.left(end));
        m_partial.remove(0, end + 1);
    }
}

QStringList DaemonProcess::logLines()
{
    collect();
    return m_lines;
}

int DaemonProcess::countLines(const QString& fragment)
{
    return logLines().filter(fragment).size();
}

bool DaemonProcess::waitForLine(const QString& fragment, int n, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (countLines(fragment) < n) {
        if (deadline.hasExpired())
            return false;
        if (m_process.state() == QProcess::NotRunning) {
            collect();
            return countLines(fragment) >= n;
        }
        m_process.waitForFinished(20);
        QCoreApplication::processEvents();
    }
    return true;
}

void DaemonProcess::dumpLog()
{
    for (const QString& line : logLines())
        fprintf(stderr, "  daemon: %s\n", line.toLocal8Bit().constData());
}
