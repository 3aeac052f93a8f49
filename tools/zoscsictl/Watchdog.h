// The last bound of --timeout: should a command still wait when its time
// (and a short grace for the library's own, more precise time-outs) is up,
// `expire` runs on the watchdog's thread; it is expected to report and end
// the process. Disarm() once the command's outcome is known.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace zoctl {

class Watchdog {
public:
    // No thread at all for `limit` zero or less.
    Watchdog(std::chrono::milliseconds limit, std::function<void()> expire);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // From here on `expire` never runs; waits while it is running.
    void Disarm();

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_disarmed = false;
    std::thread m_thread;
};

}  // namespace zoctl
