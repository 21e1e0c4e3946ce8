#pragma once

#include <QString>
#include <QVector>

#include <cstdio>

// The bench's one table: each row a figure of the daemon, the same figure of
// its floor, and their ratio against a target.
class ResultTable {
public:
    enum class Goal {
        None, // shown for information
        AtMost, // ratio must not exceed the target
        AtLeast, // ratio must reach the target
    };

    struct Row {
        QString benchmark;
        QString unit;
        double daemon;
        double floor;
        Goal goal;
        double target;

        double ratio() const;
        // "yes", "no", or "-" without a goal.
        QString met() const;
        QString targetText() const;
    };

    void add(const QString& benchmark, const QString& unit, double daemon, double floor,
        Goal goal = Goal::None, double target = 0);
    const QVector<Row>& rows() const;
    // A mode's own goal: the target of every row with a goal whose name
    // starts with this text.
    void setTarget(const QString& benchmarkStart, double target);

    void print(std::FILE* out) const;
    bool writeCsv(const QString& path) const;
    // The table as Markdown, headed by a line about the machine.
    bool writeMarkdown(const QString& path, const QString& machine) const;

    static QString number(double value);

private:
    QVector<Row> m_rows;
};
