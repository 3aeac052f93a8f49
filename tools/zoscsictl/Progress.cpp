#include "Progress.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace zoctl {

namespace {
// Back to the start of the line and clear it.
constexpr const char* kEraseLine = "\r\033[K";
}  // namespace

bool ProgressLine::Wanted(int fd, bool json) {
    if (json || !isatty(fd)) return false;
    const char* term = std::getenv("TERM");
    return !(term && std::strcmp(term, "dumb") == 0);
}

ProgressLine::ProgressLine(Options options) : m_options(options) {
    if (m_options.enabled) m_thread = std::thread([this] { Run(); });
}

ProgressLine::~ProgressLine() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
        EraseLocked();
    }
    m_changed.notify_all();
    m_thread.join();
}

void ProgressLine::Begin(std::string what) {
    if (!m_options.enabled) return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        EraseLocked();
        m_what = std::move(what);
        m_since = std::chrono::steady_clock::now();
    }
    m_changed.notify_all();
}

void ProgressLine::End() { Begin(std::string()); }

void ProgressLine::Erase() {
    if (!m_options.enabled) return;
    std::lock_guard<std::mutex> lock(m_lock);
    EraseLocked();
}

void ProgressLine::Run() {
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stop) {
        if (m_what.empty()) {
            m_changed.wait(lock);
            continue;
        }
        const auto since = m_since;
        const auto waited = std::chrono::steady_clock::now() - since;
        if (waited < m_options.delay) {
            m_changed.wait_for(lock, m_options.delay - waited);
            continue;
        }
        const long seconds = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(waited).count());
        Write(std::string(kEraseLine) + "zoscsictl: " + m_what + " ... " + std::to_string(seconds) + "s");
        m_shown = true;
        // Until the next update, or until the wait changes.
        m_changed.wait_for(lock, m_options.period, [&] { return m_stop || m_since != since; });
    }
}

void ProgressLine::EraseLocked() {
    if (!m_shown) return;
    Write(kEraseLine);
    m_shown = false;
}

void ProgressLine::Write(const std::string& text) {
    // Best effort: a terminal that cannot be written to loses only the line.
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(m_options.fd, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace zoctl
