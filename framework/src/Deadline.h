// A point in time by which an operation must finish, on the monotonic clock.
#pragma once

#include <chrono>
#include <climits>

namespace zo {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    // A deadline `timeoutSec` seconds from now; any negative value means none.
    explicit Deadline(int timeoutSec)
        : Deadline(Millis{timeoutSec < 0 ? -1 : static_cast<long long>(timeoutSec) * 1000}) {}

    // A deadline `ms` milliseconds from now; any negative value means none.
    static Deadline FromMillis(long long ms) { return Deadline(Millis{ms}); }

    bool Unlimited() const { return m_unlimited; }
    bool Expired() const { return !m_unlimited && Clock::now() >= m_end; }

    // The wait for poll(2): -1 without a limit, 0 once expired, else the
    // milliseconds left (rounded up, so a wait never ends just short of it).
    int PollMillis() const {
        if (m_unlimited) return -1;
        const auto left = m_end - Clock::now();
        if (left <= Clock::duration::zero()) return 0;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    }

private:
    struct Millis {
        long long ms;
    };
    explicit Deadline(Millis m)
        : m_unlimited(m.ms < 0), m_end(Clock::now() + std::chrono::milliseconds(m.ms < 0 ? 0 : m.ms)) {}

    bool m_unlimited;
    Clock::time_point m_end;
};

}  // namespace zo
