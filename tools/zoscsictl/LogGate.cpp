#include "LogGate.h"

#include <boost/make_shared.hpp>

#include <cstdlib>

namespace zoctl {

void LogGate::Write(int level, const char* function, int line, int arg1, int arg2, const char* format, ...) {
    if (level > m_level) return;
    va_list args;
    va_start(args, format);
    const std::string text = ZoFormatV(format, args);
    va_end(args);
    if (m_beforeWrite) m_beforeWrite();
    m_out.Write(level, function, line, arg1, arg2, "%s", text.c_str());
}

int ResolveLogLevel(bool optionGiven, int optionLevel) {
    if (optionGiven) return optionLevel;
    const char* text = std::getenv("ZO_LOG_LEVEL");
    if (!text || !*text) return -1;
    char* end = nullptr;
    const long level = std::strtol(text, &end, 10);
    return (*end == '\0' && level >= -2 && level <= 2) ? static_cast<int>(level) : -1;
}

void InstallLogGate(int level, std::function<void()> beforeWrite) {
    g_ptrLogWriter = boost::make_shared<LogGate>(level, std::move(beforeWrite));
}

}  // namespace zoctl
