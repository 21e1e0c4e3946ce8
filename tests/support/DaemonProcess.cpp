#include "DaemonProcess.h"

#include "Sandbox.h"
#include "common/BusNames.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QProcessEnvironment>
#include <QTest>

#include <algorithm>

DaemonProcess::DaemonProcess()
{
    QDir(dataDir()).mkpath("photo");
    QDir(dataDir()).mkpath("config");
    QDir(dataDir()).mkpath("run");
    m_log.setFileName(dataDir() + "/daemon.log");
    wrapper = qEnvironmentVariable("PHOTOMANAGER_WRAPPER").split(' ', Qt::SkipEmptyParts);
}

// Ended as a supervisor ends it, so that it shuts down in order (and a
// coverage build records what it ran); killed if it does not.
DaemonProcess::~DaemonProcess()
{
    process.terminate();
    if (!process.waitForFinished(scaled(10000)))
        process.kill();
    process.waitForFinished(5000);
}

int DaemonProcess::scaled(int timeoutMs)
{
    return timeoutMs * std::max(1, qEnvironmentVariableIntValue("PHOTOMANAGER_WAIT_SCALE"));
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
    env.insert("PHOTOMANAGER_CAMERA_CHECK_MS", "100"); // the camera manager found at once
    env.insert("XDG_RUNTIME_DIR", runtimeDir());
    for (const QString& entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    // Appended to, so that the log of a second start follows the first.
    process.setStandardErrorFile(
        stderrFile.isEmpty() ? m_log.fileName() : stderrFile, QIODevice::Append);
    const QStringList command = sandboxCommand(
        dataDir(), photoMount, wrapper + QStringList{qEnvironmentVariable("PHOTOMANAGER_BINARY")});
    process.start(command.first(), command.mid(1));
    return process.waitForStarted(10000);
}

bool DaemonProcess::waitForService(int timeoutMs)
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return QTest::qWaitFor(
               [&] { return !isRunning() || bus->isServiceRegistered(BusNames::kPhotoService); },
               scaled(timeoutMs))
        && isRunning();
}

// Reads what the daemon wrote since the last call and splits only that.
QStringList DaemonProcess::logLines()
{
    if (m_log.isOpen() || m_log.open(QIODevice::ReadOnly))
        m_partial += m_log.readAll();
    int start = 0;
    for (int end; (end = m_partial.indexOf('\n', start)) >= 0; start = end + 1)
        m_lines << QString::fromLocal8Bit(m_partial.constData() + start, end - start);
    m_partial.remove(0, start);
    return m_lines;
}

bool DaemonProcess::waitForLine(const QString& fragment, int n, int timeoutMs)
{
    return QTest::qWaitFor(
               [&] { return countLines(fragment) >= n || !isRunning(); }, scaled(timeoutMs))
        && countLines(fragment) >= n;
}

void DaemonProcess::dumpLog()
{
    const QStringList lines = logLines();
    for (const QString& line : lines)
        fprintf(stderr, "  daemon: %s\n", qPrintable(line));
    if (!isRunning())
        fprintf(stderr, "  daemon: ended, %s %d\n",
            process.exitStatus() == QProcess::CrashExit ? "signal" : "status", process.exitCode());
}
