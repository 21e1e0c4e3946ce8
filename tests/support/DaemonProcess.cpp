#include "DaemonProcess.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcessEnvironment>

#include <signal.h>

#include <algorithm>

namespace {
// Hides the machine's /opt behind a tmpfs, mounts the test's folder at
// /opt/quor/data and replaces the shell by the daemon (same process id, so
// signals reach the daemon itself).
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

// Waits for the daemon are stretched by PHOTOMANAGER_WAIT_SCALE (a factor,
// default 1) when it runs slower than natively, e.g. under emulation.
int scaled(int timeoutMs)
{
    return timeoutMs * std::max(1, qEnvironmentVariableIntValue("PHOTOMANAGER_WAIT_SCALE"));
}

// Serves the event loop until the condition holds or the time is up.
template <typename Condition> bool waitUntil(Condition condition, int timeoutMs)
{
    const QDeadlineTimer deadline(scaled(timeoutMs));
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return condition();
}
} // namespace

DaemonProcess::DaemonProcess()
{
    QDir(dataDir()).mkpath("photo");
    QDir(dataDir()).mkpath("config");
    m_log.setFileName(dataDir() + "/daemon.log");
    wrapper
        = QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_WRAPPER")).split(' ', Qt::SkipEmptyParts);
}

DaemonProcess::~DaemonProcess()
{
    process.kill();
    process.waitForFinished(5000);
}

QString DaemonProcess::sourceDir()
{
    return QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_SOURCE_DIR"));
}

QString DaemonProcess::dataDir() const
{
    return m_dataDir.path();
}

QString DaemonProcess::photoDir() const
{
    return dataDir() + "/photo";
}

bool DaemonProcess::writeUserEnabled(const QString& value)
{
    QFile file(dataDir() + "/config/settings.ini");
    return file.open(QIODevice::WriteOnly)
        && file.write("[IPCAMERA]\nuser_enabled=" + value.toUtf8() + "\n") > 0;
}

bool DaemonProcess::start(const QStringList& environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(m_log.fileName());
    process.start("unshare",
        QStringList{"--mount", "--", "/bin/sh", "-c", QString::fromLatin1(kSandboxScript),
            "sandbox", dataDir(), readOnlyPhotos ? "ro" : "rw"}
            + wrapper + QStringList{QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_BINARY"))});
    return process.waitForStarted(10000);
}

bool DaemonProcess::waitForService(int timeoutMs)
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return waitUntil(
               [&] {
                   return !isRunning()
                       || bus->isServiceRegistered("com.zandrel.quor.photomanager").value();
               },
               timeoutMs)
        && isRunning();
}

bool DaemonProcess::sendSignal(int signal)
{
    return ::kill(static_cast<pid_t>(process.processId()), signal) == 0;
}

bool DaemonProcess::waitForExit(int timeoutMs)
{
    return process.waitForFinished(scaled(timeoutMs));
}

bool DaemonProcess::isRunning() const
{
    return process.state() != QProcess::NotRunning;
}

QStringList DaemonProcess::logLines()
{
    if (m_log.isOpen() || m_log.open(QIODevice::ReadOnly))
        m_partial += m_log.readAll();
    for (int end; (end = m_partial.indexOf('\n')) >= 0; m_partial.remove(0, end + 1))
        m_lines << QString::fromLocal8Bit(m_partial.left(end));
    return m_lines;
}

int DaemonProcess::countLines(const QString& fragment)
{
    return logLines().filter(fragment).size();
}

bool DaemonProcess::waitForLine(const QString& fragment, int n, int timeoutMs)
{
    return waitUntil([&] { return countLines(fragment) >= n || !isRunning(); }, timeoutMs)
        && countLines(fragment) >= n;
}

void DaemonProcess::dumpLog()
{
    for (const QString& line : logLines())
        fprintf(stderr, "  daemon: %s\n", qPrintable(line));
}
