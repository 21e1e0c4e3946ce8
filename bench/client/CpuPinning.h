#pragma once

#include <QString>
#include <QVector>

// The bench's one-CPU mode: the bench pins itself, every thread of it, to one
// CPU before it starts anything, and every process it starts (bus daemons,
// siblings, the daemon or its floor, valgrind) inherits that affinity.
namespace CpuPinning {
// Pins all threads of this process to the lowest CPU it may run on now; that
// CPU, or -1 when it cannot.
int pinToOneCpu();
// The CPUs a process may run on, as /proc writes them ("0", "0-1"); empty
// when it cannot be read.
QString allowedCpus(qint64 pid);
// True when every one of these processes may run on this CPU only.
bool allPinnedTo(const QVector<qint64>& pids, int cpu);
} // namespace CpuPinning
