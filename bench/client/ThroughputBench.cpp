#include "ThroughputBench.h"

#include "BenchSide.h"
#include "Clock.h"
#include "ResultTable.h"
#include "Samples.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {
const int kCallTimeoutMs = 10000;
}

ThroughputBench::ThroughputBench(
    BenchSide& daemon, BenchSide& floor, int connections, int rounds, int roundMs)
    : m_daemon(daemon)
    , m_floor(floor)
    , m_rounds(rounds)
    , m_roundMs(roundMs)
{
    BenchSide* sides[2] = {&m_daemon, &m_floor};
    for (int s = 0; s < 2; ++s) {
        for (int c = 0; c < connections; ++c) {
            const QString name = QStringLiteral("bench-%1-load-%2").arg(sides[s]->name()).arg(c);
            if (QDBusConnection::connectToBus(sides[s]->busAddress(), name).isConnected())
                m_connections[s] << name;
        }
    }
}

ThroughputBench::~ThroughputBench()
{
    for (const QStringList& names : m_connections) {
        for (const QString& name : names)
            QDBusConnection::disconnectFromBus(name);
    }
}

bool ThroughputBench::run(ResultTable& table)
{
    if (m_connections[0].size() != m_connections[1].size() || m_connections[0].isEmpty())
        return false;
    return measure(QStringLiteral("StopPhotoStream"), QStringLiteral("StopPhotoStream"), {}, table)
        && measure(
            QStringLiteral("EnableCamera(false)"), QStringLiteral("EnableCamera"), {false}, table);
}

bool ThroughputBench::measure(
    const QString& label, const QString& method, const QVariantList& args, ResultTable& table)
{
    std::fprintf(stderr, "bench: throughput of %s\n", qPrintable(label));
    const QDBusMessage call = BenchSide::photoCall(method, args);
    Samples rates[2];
    for (int r = 0; r < m_rounds; ++r) {
        for (int turn = 0; turn < 2; ++turn) {
            const int s = (r + turn) % 2;
            const double rate = round(m_connections[s], call);
            if (rate < 0) {
                std::fprintf(stderr, "bench: a call to the %s failed under load\n",
                    s == 0 ? "daemon" : "floor");
                return false;
            }
            rates[s].add(rate);
        }
    }
    table.add(
        QStringLiteral("throughput %1, %2 connections").arg(label).arg(m_connections[0].size()),
        QStringLiteral("calls/s"), rates[0].median(), rates[1].median(), ResultTable::Goal::AtLeast,
        0.9);
    return true;
}

double ThroughputBench::round(const QStringList& connections, const QDBusMessage& call)
{
    std::atomic<bool> failed(false);
    std::vector<qint64> counts(static_cast<size_t>(connections.size()), 0);
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(connections.size()));
    const qint64 start = nowNs();
    const qint64 deadline = start + static_cast<qint64>(m_roundMs) * 1000000;
    for (int c = 0; c < connections.size(); ++c) {
        threads.emplace_back([&, c] {
            QDBusConnection bus(connections.at(c));
            qint64 calls = 0;
            while (!failed && nowNs() < deadline) {
                if (bus.call(call, QDBus::Block, kCallTimeoutMs).type()
                    != QDBusMessage::ReplyMessage) {
                    failed = true;
                    break;
                }
                ++calls;
            }
            counts[static_cast<size_t>(c)] = calls;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const qint64 elapsed = nowNs() - start;
    if (failed)
        return -1;
    qint64 total = 0;
    for (qint64 calls : counts)
        total += calls;
    return static_cast<double>(total) * 1e9 / static_cast<double>(elapsed);
}
