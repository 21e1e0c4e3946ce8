#include "Samples.h"

#include <algorithm>
#include <cmath>

void Samples::add(double value)
{
    m_values.push_back(value);
}

void Samples::reserve(int n)
{
    m_values.reserve(static_cast<size_t>(n));
}

int Samples::size() const
{
    return static_cast<int>(m_values.size());
}

double Samples::median() const
{
    if (m_values.empty())
        return 0;
    std::vector<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    const size_t middle = sorted.size() / 2;
    return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

double Samples::percentile(double p) const
{
    if (m_values.empty())
        return 0;
    std::vector<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    const auto rank
        = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}
