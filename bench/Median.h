#pragma once
// The middle of a set of timings: what a benchmark reports, as one slow run says little.

#include <algorithm>
#include <vector>

inline double MedianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
