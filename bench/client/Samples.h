#pragma once

#include <vector>

// Measured values of one figure on one side.
class Samples {
public:
    void add(double value);
    void reserve(int n);
    int size() const;
    double median() const;
    // Nearest-rank percentile, p in (0, 100].
    double percentile(double p) const;

private:
    std::vector<double> m_values;
};
