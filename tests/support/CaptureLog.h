// CaptureLog: a log writer for tests that records every line it is given.
//
//   #include "support/CaptureLog.h"
//
//   zotest::ScopedLogCapture log(1);           // installs a capture at level 1
//   client.AddTarget(request);                 // code under test logs
//   EXPECT_TRUE(log->Contains("Created target"));
//   EXPECT_EQ(log->CountAtLevel(-1), 0u);
//   log->SetLevel(-2);                         // GetLevel() now answers -2
//   // at the end of the scope the previous g_ptrLogWriter is back
//
// The writer records every Write exactly as called (level, function, line,
// the two reserved arguments and the formatted text); it does NOT filter by
// its own level, because the gate is the caller's duty: a test that sets the
// level to -2 and then finds a recorded line has caught a caller that did not
// test GetLevel(). GetLevel() calls are counted too.
//
// Thread-safe: lines may come from any thread. Install and remove captures
// only while no other thread is logging (g_ptrLogWriter itself is a plain
// global).
#pragma once

#include "LogWriter.h"

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace zotest {

struct CapturedLine {
    int level = 0;
    std::string function;
    int line = 0;
    int arg1 = 0;
    int arg2 = 0;
    std::string text;
};

class CaptureLogWriter : public CLogWriterInterface {
public:
    explicit CaptureLogWriter(int level = 0) : m_level(level) {}

    void Write(int level, const char* function, int line, int arg1, int arg2, const char* format, ...) override
        __attribute__((format(printf, 7, 8))) {
        CapturedLine captured;
        captured.level = level;
        captured.function = function ? function : "";
        captured.line = line;
        captured.arg1 = arg1;
        captured.arg2 = arg2;
        va_list args;
        va_start(args, format);
        captured.text = ZoFormatV(format, args);
        va_end(args);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(std::move(captured));
    }

    int GetLevel() override {
        m_getLevelCalls.fetch_add(1, std::memory_order_relaxed);
        return m_level.load(std::memory_order_relaxed);
    }

    void SetLevel(int level) { m_level.store(level, std::memory_order_relaxed); }

    // A copy of every line so far, in order.
    std::vector<CapturedLine> Lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // Just the texts, in order (handy for EXPECT_THAT / printing).
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const CapturedLine& l : Lines()) texts.push_back(l.text);
        return texts;
    }
    size_t Count() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines.size();
    }
    size_t CountAtLevel(int level) const {
        size_t n = 0;
        for (const CapturedLine& l : Lines()) n += l.level == level;
        return n;
    }
    // True when some line's text contains `needle`.
    bool Contains(const std::string& needle) const {
        for (const CapturedLine& l : Lines())
            if (l.text.find(needle) != std::string::npos) return true;
        return false;
    }
    // Every line, one per row: "L<level> <function>:<line> <text>" (for failure messages).
    std::string Dump() const {
        std::string out;
        for (const CapturedLine& l : Lines())
            out += "L" + std::to_string(l.level) + " " + l.function + ":" + std::to_string(l.line) + " " +
                   l.text + "\n";
        return out;
    }
    long GetLevelCalls() const { return m_getLevelCalls.load(std::memory_order_relaxed); }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }

private:
    std::atomic<int> m_level;
    std::atomic<long> m_getLevelCalls{0};
    mutable std::mutex m_mutex;
    std::vector<CapturedLine> m_lines;
};

// Installs a CaptureLogWriter in g_ptrLogWriter for the scope and puts the
// previous writer back on destruction. Use it through -> or writer().
class ScopedLogCapture {
public:
    explicit ScopedLogCapture(int level = 0)
        : m_writer(boost::make_shared<CaptureLogWriter>(level)), m_previous(g_ptrLogWriter) {
        g_ptrLogWriter = m_writer;
    }
    ~ScopedLogCapture() { g_ptrLogWriter = m_previous; }

    ScopedLogCapture(const ScopedLogCapture&) = delete;
    ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

    CaptureLogWriter* operator->() const { return m_writer.get(); }
    CaptureLogWriter& writer() const { return *m_writer; }
    const boost::shared_ptr<CaptureLogWriter>& shared() const { return m_writer; }

private:
    boost::shared_ptr<CaptureLogWriter> m_writer;
    boost::shared_ptr<CLogWriterInterface> m_previous;
};

}  // namespace zotest
