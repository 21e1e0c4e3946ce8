#include "MachineInfo.h"

#include <QFile>

#include <unistd.h>

namespace {
// The value of the first "key : value" line with this key.
QByteArray procValue(const QString& path, const QByteArray& key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    for (QByteArray line = file.readLine(); !line.isEmpty(); line = file.readLine()) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed() == key)
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}
} // namespace

MachineInfo MachineInfo::read()
{
    MachineInfo info;
    info.cores = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
    info.cpuModel = QString::fromLatin1(procValue(QStringLiteral("/proc/cpuinfo"), "model name"));
    info.memoryKiB
        = procValue(QStringLiteral("/proc/meminfo"), "MemTotal").split(' ').value(0).toLongLong();
    return info;
}

QString MachineInfo::summary() const
{
    const QString mode = pinnedCpu < 0
        ? QStringLiteral("%1 cores (nproc)").arg(cores)
        : QStringLiteral("one CPU (every process pinned to CPU %1 of %2)")
              .arg(pinnedCpu)
              .arg(cores);
    return QStringLiteral("%1, %2, %3 GiB memory")
        .arg(mode, cpuModel.isEmpty() ? QStringLiteral("unknown processor") : cpuModel,
            QString::number(static_cast<double>(memoryKiB) / (1024.0 * 1024.0), 'f', 1));
}
