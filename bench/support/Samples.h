// Per-iteration samples of a side-by-side benchmark and their median.
#pragma once

#include <time.h>

#include <cstddef>
#include <vector>

namespace zobench {

// The monotonic clock in nanoseconds (vDSO: no system call).
inline double NowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

class Samples {
public:
    void Clear() { m_values.clear(); }
    // Room for `count` samples, its pages touched now (not while measuring).
    void Reserve(size_t count) {
        m_values.assign(count, 0.0);
        m_values.clear();
    }
    void Add(double value) { m_values.push_back(value); }
    size_t Size() const { return m_values.size(); }
    // The median (the mean of the two middle values for an even count); 0 when empty.
    double Median() const;

private:
    mutable std::vector<double> m_values;
};

}  // namespace zobench
