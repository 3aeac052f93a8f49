// Logging: the process-wide log writer and its interface.
//
// A line of level L is meant to be written only when GetLevel() >= L; callers
// test the gate themselves (the writer writes what it is given). Levels:
// -1 failures, 0 details, 1 successes and notices, 2 tracing.
#pragma once

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdarg>

class CLogWriterInterface {
public:
    virtual ~CLogWriterInterface() = default;
    // One log line. `function` and `line` say where it comes from; `arg1` and
    // `arg2` are reserved (always 0 from the library).
    virtual void Write(int level, const char* function, int line, int arg1, int arg2,
                       const char* format, ...) __attribute__((format(printf, 7, 8))) = 0;
    virtual int GetLevel() = 0;
};

// The process's log writer. Initialised to a StderrLogWriter; a host or a
// test installs its own before calling into the library.
extern boost::shared_ptr<CLogWriterInterface> g_ptrLogWriter;

// The default writer: one line per call on standard error,
//   "2026-12-09T10:01:02.123Z L1 <function>:<line> <text>"
// When standard error is a stream into the systemd journal (JOURNAL_STREAM
// names it), a line starts with its priority for the journal instead of the
// time, which the journal records itself:
//   "<3>L-1 <function>:<line> <text>"
// Priorities: level -1 and below err (3), 0 notice (5), 1 info (6), 2 and
// above debug (7). The level of the default-constructed writer is
// ConfiguredLevel(-1): a host program linking the library sees only
// failures unless it asks for more. Thread-safe: a line is written with one
// write(2).
class StderrLogWriter : public CLogWriterInterface {
public:
    StderrLogWriter();
    explicit StderrLogWriter(int level);
    void Write(int level, const char* function, int line, int arg1, int arg2,
               const char* format, ...) override __attribute__((format(printf, 7, 8)));
    int GetLevel() override;
    void SetLevel(int level);

    // ZO_LOG_LEVEL, else [Log] Level of the configuration, else `fallback`.
    // A value that is not a whole number is ignored.
    static int ConfiguredLevel(int fallback);

private:
    std::atomic<int> m_level;
    bool m_journal;  // standard error was the journal's stream at construction
};

// Formats printf-style into a std::string, any length.
#include <string>
std::string ZoFormatV(const char* format, va_list args);
std::string ZoFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
