// A short progress line while a wait lasts longer than a second, e.g.
//   zoscsictl: launching ZoScsiSrv for client node1 ... 3s
// Shown on a terminal only (never in a pipe, never with --json), updated
// once a second, and erased as soon as the wait ends, so that nothing of it
// stays on the screen or mixes with the command's output.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace zoctl {

class ProgressLine {
public:
    struct Options {
        int fd = 2;             // where the line is written
        bool enabled = false;   // false: the object does nothing at all
        std::chrono::milliseconds delay{1000};   // a wait shorter than this shows nothing
        std::chrono::milliseconds period{1000};  // how often the seconds are updated
    };

    // Whether a progress line belongs on `fd`: a terminal that is not "dumb",
    // and the output is not a JSON document.
    static bool Wanted(int fd, bool json);

    explicit ProgressLine(Options options);
    ~ProgressLine();  // erases the line
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // A new wait begins, described by `what`; the one before ends.
    void Begin(std::string what);
    // The wait ends; a shown line is erased.
    void End();
    // Erases a shown line, so that other text can be written to the same
    // terminal; it comes back at its next update.
    void Erase();

private:
    void Run();
    void EraseLocked();
    void Write(const std::string& text);

    const Options m_options;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::string m_what;  // empty: no wait in progress
    std::chrono::steady_clock::time_point m_since;
    bool m_shown = false;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace zoctl
