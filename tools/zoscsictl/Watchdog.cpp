#include "Watchdog.h"

namespace zoctl {

Watchdog::Watchdog(std::chrono::milliseconds limit, std::function<void()> expire) {
    if (limit.count() <= 0) return;
    const auto end = std::chrono::steady_clock::now() + limit;
    m_thread = std::thread([this, end, expire = std::move(expire)] {
        std::unique_lock<std::mutex> lock(m_lock);
        if (!m_changed.wait_until(lock, end, [this] { return m_disarmed; })) expire();
    });
}

Watchdog::~Watchdog() {
    Disarm();
    if (m_thread.joinable()) m_thread.join();
}

void Watchdog::Disarm() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_disarmed = true;
    m_changed.notify_all();
}

}  // namespace zoctl
