#pragma once

#include <cstddef>
#include <vector>

// The q-quantile (0..1) of sorted figures; 0 when there are none.
inline double quantile(const std::vector<double> &sorted, double q)
{
    return sorted.empty() ? 0 : sorted[size_t(q * double(sorted.size() - 1))];
}
