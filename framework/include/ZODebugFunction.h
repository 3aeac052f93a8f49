// ZODebugFunction: the function tracer. Constructing one writes an entry line,
// destroying it an exit line with the elapsed time, both through the given
// writer and both only when the writer's level is at least `traceLevel`.
#pragma once

#include "LogWriter.h"

#include <atomic>
#include <chrono>

class ZODebugFunction {
public:
    // writer, trace level (2), function string, line, arg (1), context (0),
    // mask (0xFFFFFFFF), optional printf-style text for the entry line (may be null).
    ZODebugFunction(boost::shared_ptr<CLogWriterInterface> writer, unsigned int traceLevel,
                    const char* function, unsigned int line, int arg, unsigned long long context,
                    unsigned int mask, const char* format, ...);
    ~ZODebugFunction();

    ZODebugFunction(const ZODebugFunction&) = delete;
    ZODebugFunction& operator=(const ZODebugFunction&) = delete;

    // Diagnostics: tracers alive now, and made since the process started.
    static long Alive();
    static long Constructed();

private:
    boost::shared_ptr<CLogWriterInterface> m_writer;
    int m_level;
    const char* m_function;
    unsigned int m_line;
    bool m_entered;  // the entry line was written, so the exit line will be
    std::chrono::steady_clock::time_point m_start;
};
