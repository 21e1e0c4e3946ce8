#pragma once

#include <QtGlobal>

#include <ctime>

// Monotonic nanoseconds, comparable across every figure of one run.
inline qint64 nowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}
