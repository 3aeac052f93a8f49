// RestoreTask: bringing tgtd back to a large inventory on a thread of its
// own, so that the service answers (listings, status, readiness) while the
// exports come back; the calls that change tgtd wait for it, each for a
// bounded time, and are told how far it has come. Start and Join belong to
// the backend's own (serialised) calls; the rest may be called from anywhere.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace zoscsi::tgt {

class RestoreTask {
public:
    RestoreTask() = default;
    ~RestoreTask() { Join(); }
    RestoreTask(const RestoreTask&) = delete;
    RestoreTask& operator=(const RestoreTask&) = delete;

    // Runs `work` on a thread of its own; `total` is what it will count
    // with Advance. The previous work must have ended (Join first).
    void Start(size_t total, std::function<void()> work);
    // Counts `units` more done; may be called from any thread.
    void Advance(size_t units = 1);
    // Counts again from 0 of `total` (the work started over).
    void Recount(size_t total);

    // Waits until no work runs, at most `bound`; true when none runs.
    bool Await(std::chrono::milliseconds bound);
    // Waits until no work runs.
    void Join();
    bool running() const;
    // "restoring exports: N of M done" while it runs.
    std::string Progress() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_ended;
    bool m_running = false;
    size_t m_done = 0, m_total = 0;
    std::thread m_thread;
};

}  // namespace zoscsi::tgt
