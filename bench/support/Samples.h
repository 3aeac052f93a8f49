// Per-iteration samples of a side-by-side benchmark and their median, and
// the clocks they are read from.
#pragma once

#include <sys/resource.h>
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

// The calling thread's CPU time (user and system) in nanoseconds.
inline double ThreadCpuNs() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// The calling thread's minor page faults so far.
inline long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
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
