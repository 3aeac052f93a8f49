#include "LogGate.h"

#include <boost/make_shared.hpp>

namespace zoctl {

void LogGate::Write(int level, const char* function, int line, int arg1, int arg2, const char* format, ...) {
    if (level > m_level) return;
    va_list args;
    va_start(args, format);
    const std::string text = ZoFormatV(format, args);
    va_end(args);
    m_out.Write(level, function, line, arg1, arg2, "%s", text.c_str());
}

void InstallLogGate(int level) { g_ptrLogWriter = boost::make_shared<LogGate>(level); }

}  // namespace zoctl
