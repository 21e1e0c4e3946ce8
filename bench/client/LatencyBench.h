#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

class BenchSide;
class ResultTable;

// Round trips of single photo interface calls, daemon and floor alternating
// call by call, so that both see the same moments of a noisy machine.
class LatencyBench {
public:
    LatencyBench(BenchSide& daemon, BenchSide& floor, int callsPerMethod);

    // Measures only the named methods (all when empty), for profiling one.
    void setMethods(const QStringList& names);
    // Adds median and 99th percentile rows; false when a call failed.
    bool run(ResultTable& table);
    // Calls made to each side so far.
    int callsMade() const;

private:
    struct Method {
        QString label;
        QString name;
        QVariantList args;
        QVariant reply;
        bool askCameraOnFloor;
        // The daemon's settings file comes and goes in turns during the calls.
        bool togglesSettings;
    };

    bool measure(const Method& method, ResultTable& table);
    bool writeSettings(bool present) const;

    BenchSide& m_daemon;
    BenchSide& m_floor;
    int m_callsPerMethod;
    int m_callsMade;
    QStringList m_methods;
};
