#pragma once

class BenchSide;
class ResultTable;

// From the moment the service program is exec'd (inside the same private
// mount namespace set-up on both sides) until its bus name is owned.
// Daemon and floor start in turns; each is stopped before it starts again.
class StartupBench {
public:
    StartupBench(BenchSide& daemon, BenchSide& floor, int starts);

    bool run(ResultTable& table);

private:
    BenchSide& m_daemon;
    BenchSide& m_floor;
    int m_starts;
};
