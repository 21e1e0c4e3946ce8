#include "StartupBench.h"

#include "BenchSide.h"
#include "ResultTable.h"
#include "Samples.h"

#include <cstdio>

StartupBench::StartupBench(BenchSide& daemon, BenchSide& floor, int starts)
    : m_daemon(daemon)
    , m_floor(floor)
    , m_starts(starts)
{
}

bool StartupBench::run(ResultTable& table)
{
    std::fprintf(stderr, "bench: start-up\n");
    BenchSide* sides[2] = {&m_daemon, &m_floor};
    Samples samples[2];
    for (int i = 0; i < m_starts; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            const int s = (i + turn) % 2;
            qint64 owned = 0;
            if (!sides[s]->stopService() || !sides[s]->startService(&owned)
                || sides[s]->service().execNs() == 0) {
                std::fprintf(stderr, "bench: the %s did not start\n", qPrintable(sides[s]->name()));
                return false;
            }
            samples[s].add(static_cast<double>(owned - sides[s]->service().execNs()) / 1e6);
        }
    }
    table.add(QStringLiteral("start-up until the name is owned, median"), QStringLiteral("ms"),
        samples[0].median(), samples[1].median(), ResultTable::Goal::AtMost, 1.2);
    return true;
}
