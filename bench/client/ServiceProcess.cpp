#include "ServiceProcess.h"

#include "Clock.h"
#include "Sandbox.h"

#include <QFile>
#include <QProcessEnvironment>

#include <signal.h>

ServiceProcess::ServiceProcess(
    const QString& program, const QStringList& arguments, const QString& busAddress)
    : m_program(program)
    , m_arguments(arguments)
    , m_busAddress(busAddress)
    , m_execNs(0)
{
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this] {
        if (m_execNs == 0)
            m_execNs = nowNs();
        m_process.readAllStandardOutput();
    });
}

ServiceProcess::~ServiceProcess()
{
    stop(5000);
}

void ServiceProcess::setSandboxDataDir(const QString& dataDir)
{
    m_dataDir = dataDir;
}

void ServiceProcess::setLogFile(const QString& path)
{
    m_logFile = path;
}

void ServiceProcess::setRuntimeDir(const QString& path)
{
    m_runtimeDir = path;
}

void ServiceProcess::setPrefix(const QStringList& prefix)
{
    m_prefix = prefix;
}

bool ServiceProcess::start()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    if (!m_runtimeDir.isEmpty())
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    m_process.setProcessEnvironment(environment);
    if (m_logFile.isEmpty())
        m_process.setStandardErrorFile(QProcess::nullDevice());
    else
        m_process.setStandardErrorFile(m_logFile, QIODevice::Append);
    m_execNs = 0;

    const QStringList command = m_prefix + QStringList{m_program} + m_arguments;
    if (m_dataDir.isEmpty()) {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(command.first(), command.mid(1));
    } else {
        const QStringList sandboxed = sandboxCommand(m_dataDir, QStringLiteral("rw"), command);
        m_process.start(sandboxed.first(), sandboxed.mid(1));
    }
    return m_process.waitForStarted(10000);
}

bool ServiceProcess::stop(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
    if (m_process.waitForFinished(timeoutMs))
        return true;
    m_process.kill();
    m_process.waitForFinished(5000);
    return false;
}

bool ServiceProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

qint64 ServiceProcess::pid() const
{
    return m_process.processId();
}

qint64 ServiceProcess::residentKiB() const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 ServiceProcess::execNs() const
{
    return m_execNs;
}

QProcess& ServiceProcess::process()
{
    return m_process;
}
