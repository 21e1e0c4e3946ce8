#include "ResultTable.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>

double ResultTable::Row::ratio() const
{
    return floor != 0 ? daemon / floor : 0;
}

QString ResultTable::Row::met() const
{
    switch (goal) {
    case Goal::AtMost:
        return ratio() <= target ? QStringLiteral("yes") : QStringLiteral("no");
    case Goal::AtLeast:
        return ratio() >= target ? QStringLiteral("yes") : QStringLiteral("no");
    case Goal::None:
        break;
    }
    return QStringLiteral("-");
}

QString ResultTable::Row::targetText() const
{
    switch (goal) {
    case Goal::AtMost:
        return QStringLiteral("<= ") + QString::number(target, 'f', 2);
    case Goal::AtLeast:
        return QStringLiteral(">= ") + QString::number(target, 'f', 2);
    case Goal::None:
        break;
    }
    return QStringLiteral("-");
}

void ResultTable::add(const QString& benchmark, const QString& unit, double daemon, double floor,
    Goal goal, double target)
{
    m_rows.append(Row{benchmark, unit, daemon, floor, goal, target});
}

void ResultTable::setTarget(const QString& benchmarkStart, double target)
{
    for (Row& row : m_rows) {
        if (row.goal != Goal::None && row.benchmark.startsWith(benchmarkStart))
            row.target = target;
    }
}

const QVector<ResultTable::Row>& ResultTable::rows() const
{
    return m_rows;
}

QString ResultTable::number(double value)
{
    const double magnitude = std::fabs(value);
    if (magnitude >= 1000)
        return QString::number(value, 'f', 0);
    if (magnitude >= 10)
        return QString::number(value, 'f', 1);
    return QString::number(value, 'f', 2);
}

void ResultTable::print(std::FILE* out) const
{
    int width = 9;
    for (const Row& row : m_rows)
        width = std::max(width, static_cast<int>(row.benchmark.size()));
    const QString header = QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                               .arg(QStringLiteral("benchmark"), -width)
                               .arg(QStringLiteral("unit"), -8)
                               .arg(QStringLiteral("daemon"), 10)
                               .arg(QStringLiteral("floor"), 10)
                               .arg(QStringLiteral("ratio"), 7)
                               .arg(QStringLiteral("target"), 9)
                               .arg(QStringLiteral("met"), 4);
    std::fprintf(
        out, "%s\n%s\n", qPrintable(header), qPrintable(QString(header.size(), QLatin1Char('-'))));
    for (const Row& row : m_rows) {
        const QString line = QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                                 .arg(row.benchmark, -width)
                                 .arg(row.unit, -8)
                                 .arg(number(row.daemon), 10)
                                 .arg(number(row.floor), 10)
                                 .arg(QString::number(row.ratio(), 'f', 2), 7)
                                 .arg(row.targetText(), 9)
                                 .arg(row.met(), 4);
        std::fprintf(out, "%s\n", qPrintable(line));
    }
}

bool ResultTable::writeCsv(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out << "benchmark,unit,daemon,floor,ratio,target,met\n";
    for (const Row& row : m_rows) {
        out << '"' << row.benchmark << "\"," << row.unit << ','
            << QString::number(row.daemon, 'g', 8) << ',' << QString::number(row.floor, 'g', 8)
            << ',' << QString::number(row.ratio(), 'f', 3) << ',' << row.targetText() << ','
            << row.met() << '\n';
    }
    return out.status() == QTextStream::Ok;
}

bool ResultTable::writeMarkdown(const QString& path, const QString& machine) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out << machine << "\n\n";
    out << "| benchmark | unit | daemon | floor | ratio | target | met |\n";
    out << "|---|---|--:|--:|--:|---|---|\n";
    for (const Row& row : m_rows) {
        out << "| " << row.benchmark << " | " << row.unit << " | " << number(row.daemon) << " | "
            << number(row.floor) << " | " << QString::number(row.ratio(), 'f', 2) << " | "
            << row.targetText() << " | " << row.met() << " |\n";
    }
    return out.status() == QTextStream::Ok;
}
