// Counters of a side-by-side benchmark: the baseline's and our medians of one
// run and their ratio (ours / baseline), so that load on the machine moves
// both alike.
#pragma once

#include "support/Samples.h"

#include <benchmark/benchmark.h>

#include <string>

namespace zobench {

// Sets "<base>_us", "<ours>_us" and "ratio" (or "ratio_<ours>" when
// `ratioName` is given) from the medians of the samples (nanoseconds).
inline void ReportSideBySide(benchmark::State& state, const std::string& baseName, const Samples& base,
                             const std::string& oursName, const Samples& ours, const std::string& ratioName = "ratio") {
    const double baseMedian = base.Median();
    const double oursMedian = ours.Median();
    state.counters[baseName + "_us"] = baseMedian / 1e3;
    state.counters[oursName + "_us"] = oursMedian / 1e3;
    state.counters[ratioName] = baseMedian > 0 ? oursMedian / baseMedian : 0;
}

}  // namespace zobench
