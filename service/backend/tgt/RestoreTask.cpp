#include "backend/tgt/RestoreTask.h"

namespace zoscsi::tgt {

void RestoreTask::Start(size_t total, std::function<void()> work) {
    Join();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_running = true;
        m_done = 0;
        m_total = total;
    }
    m_thread = std::thread([this, work = std::move(work)] {
        work();
        std::lock_guard<std::mutex> lock(m_lock);
        m_running = false;
        m_ended.notify_all();
    });
}

void RestoreTask::Advance(size_t units) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_done += units;
}

void RestoreTask::Recount(size_t total) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_done = 0;
    m_total = total;
}

bool RestoreTask::Await(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_ended.wait_for(lock, bound, [this] { return !m_running; });
}

void RestoreTask::Join() {
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_ended.wait(lock, [this] { return !m_running; });
    }
    if (m_thread.joinable()) m_thread.join();
}

bool RestoreTask::running() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_running;
}

std::string RestoreTask::Progress() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return "restoring exports: " + std::to_string(m_done) + " of " + std::to_string(m_total) + " done";
}

}  // namespace zoscsi::tgt
