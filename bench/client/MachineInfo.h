#pragma once

#include <QString>

// What the figures were measured on: cores, processor, memory.
struct MachineInfo {
    int cores = 0;
    QString cpuModel;
    qint64 memoryKiB = 0;

    static MachineInfo read();
    QString summary() const;
};
