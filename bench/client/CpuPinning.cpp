#include "CpuPinning.h"

#include <QDir>
#include <QFile>

#include <sched.h>
#include <sys/types.h>

namespace CpuPinning {

int pinToOneCpu()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return -1;
    int cpu = 0;
    while (cpu < CPU_SETSIZE && !CPU_ISSET(cpu, &allowed))
        ++cpu;
    if (cpu == CPU_SETSIZE)
        return -1;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    // Affinity belongs to a thread; Qt may already have started some.
    const QStringList threads
        = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& thread : threads) {
        if (::sched_setaffinity(static_cast<pid_t>(thread.toInt()), sizeof one, &one) != 0)
            return -1;
    }
    return cpu;
}

QString allowedCpus(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return QString();
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("Cpus_allowed_list:"))
            return QString::fromLatin1(line.mid(18).trimmed());
    }
    return QString();
}

bool allPinnedTo(const QVector<qint64>& pids, int cpu)
{
    for (qint64 pid : pids) {
        if (pid <= 0 || allowedCpus(pid) != QString::number(cpu))
            return false;
    }
    return !pids.isEmpty();
}

} // namespace CpuPinning
