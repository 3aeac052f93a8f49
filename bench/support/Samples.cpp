#include "support/Samples.h"

#include <algorithm>

namespace zobench {

double Samples::Median() const {
    if (m_values.empty()) return 0;
    const size_t middle = m_values.size() / 2;
    std::nth_element(m_values.begin(), m_values.begin() + middle, m_values.end());
    const double upper = m_values[middle];
    if (m_values.size() % 2 != 0) return upper;
    const double lower = *std::max_element(m_values.begin(), m_values.begin() + middle);
    return (lower + upper) / 2;
}

}  // namespace zobench
