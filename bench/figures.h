#pragma once
// The summary every benchmark prints: how many samples, the median, the
// 99th percentile and the largest, in milliseconds.

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tavro::bench {

struct Figures {
    size_t samples = 0;
    double p50 = 0, p99 = 0, max = 0;
};

inline Figures Summarise(std::vector<double> values)
{
    Figures f;
    f.samples = values.size();
    if (values.empty())
        return f;
    std::sort(values.begin(), values.end());
    f.p50 = values[values.size() / 2];
    f.p99 = values[std::min(values.size() - 1, values.size() * 99 / 100)];
    f.max = values.back();
    return f;
}

inline void Print(const char* what, const Figures& f)
{
    std::printf("%-44s %6zu samples  p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms\n", what, f.samples,
                f.p50, f.p99, f.max);
}

}  // namespace tavro::bench
