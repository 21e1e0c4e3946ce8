#pragma once

#include <QString>

// What the figures were measured on: cores, processor, memory, and the one
// CPU every process of the bench was pinned to, if it was.
struct MachineInfo {
    int cores = 0;
    int pinnedCpu = -1;
    QString cpuModel;
    qint64 memoryKiB = 0;

    static MachineInfo read();
    QString summary() const;
};
