// The tool's process log writer: the framework's stderr writer behind a gate
// that drops every line above the chosen level, also the lines a caller
// writes without asking for the level first. Level -2 silences the log.
#pragma once

#include "LogWriter.h"

#include <functional>

namespace zoctl {

class LogGate : public CLogWriterInterface {
public:
    // `beforeWrite`, when set, runs before each line that passes the gate
    // (the progress line erases itself there).
    explicit LogGate(int level, std::function<void()> beforeWrite = {})
        : m_level(level), m_out(level), m_beforeWrite(std::move(beforeWrite)) {}

    void Write(int level, const char* function, int line, int arg1, int arg2, const char* format, ...) override
        __attribute__((format(printf, 7, 8)));
    int GetLevel() override { return m_level; }

private:
    int m_level;
    StderrLogWriter m_out;
    std::function<void()> m_beforeWrite;
};

// The option's level when given; else ZO_LOG_LEVEL, as the framework's own
// writer reads it; else -1 (failures only), so normal output stays clean.
int ResolveLogLevel(bool optionGiven, int optionLevel);

// Installs a LogGate of `level` as the process's log writer.
void InstallLogGate(int level, std::function<void()> beforeWrite = {});

}  // namespace zoctl
