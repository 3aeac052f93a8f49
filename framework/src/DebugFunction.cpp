#include "ZODebugFunction.h"

#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<long> g_alive{0};
std::atomic<long> g_constructed{0};
}  // namespace

ZODebugFunction::ZODebugFunction(boost::shared_ptr<CLogWriterInterface> writer, unsigned int traceLevel,
                                 const char* function, unsigned int line, int, unsigned long long, unsigned int,
                                 const char* format, ...)
    : m_writer(std::move(writer)),
      m_level(static_cast<int>(traceLevel)),
      m_function(function ? function : "-"),
      m_line(line),
      m_entered(false),
      m_start(std::chrono::steady_clock::now()) {
    g_alive.fetch_add(1, std::memory_order_relaxed);
    g_constructed.fetch_add(1, std::memory_order_relaxed);
    if (!m_writer || m_writer->GetLevel() < m_level) return;
    m_entered = true;
    if (format) {
        va_list args;
        va_start(args, format);
        std::string text = ZoFormatV(format, args);
        va_end(args);
        m_writer->Write(m_level, m_function, static_cast<int>(m_line), 0, 0, "enter: %s", text.c_str());
    } else {
        m_writer->Write(m_level, m_function, static_cast<int>(m_line), 0, 0, "enter");
    }
}

// The exit line is written exactly when the entry line was, so the two pair up.
ZODebugFunction::~ZODebugFunction() {
    if (m_entered) {
        auto elapsed = std::chrono::steady_clock::now() - m_start;
        double ms = std::chrono::duration<double, std::milli>(elapsed).count();
        m_writer->Write(m_level, m_function, static_cast<int>(m_line), 0, 0, "exit after %.3f ms", ms);
    }
    g_alive.fetch_sub(1, std::memory_order_relaxed);
}

long ZODebugFunction::Alive() { return g_alive.load(std::memory_order_relaxed); }

long ZODebugFunction::Constructed() { return g_constructed.load(std::memory_order_relaxed); }
