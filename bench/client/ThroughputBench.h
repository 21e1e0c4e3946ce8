#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

class BenchSide;
class QDBusMessage;
class ResultTable;

// Calls per second with several client connections calling at once, each
// from its own thread, one call in flight per connection. Daemon and floor
// take turns, round by round.
class ThroughputBench {
public:
    ThroughputBench(BenchSide& daemon, BenchSide& floor, int connections, int rounds, int roundMs);
    ~ThroughputBench();

    bool run(ResultTable& table);

private:
    bool measure(
        const QString& label, const QString& method, const QVariantList& args, ResultTable& table);
    // Calls per second of one round; negative when a call failed.
    double round(const QStringList& connections, const QDBusMessage& call);

    BenchSide& m_daemon;
    BenchSide& m_floor;
    int m_rounds;
    int m_roundMs;
    QStringList m_connections[2];
};
