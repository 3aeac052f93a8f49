// Pieces every fuzz target shares: a log writer that drops everything (a
// target logs refused input at level -1, which would drown the fuzzer's own
// output and slow it down), and a check that aborts with a message, so a
// broken invariant shows up as a crash with its reason.
#pragma once

#include "LogWriter.h"

#include <cstdio>
#include <cstdlib>

namespace zofuzz {

class SilentLogWriter : public CLogWriterInterface {
public:
    void Write(int, const char*, int, int, int, const char*, ...) override {}
    int GetLevel() override { return -2; }
};

inline void Silence() { g_ptrLogWriter.reset(new SilentLogWriter()); }

[[noreturn]] inline void Broken(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

}  // namespace zofuzz

#define ZO_FUZZ_CHECK(condition) \
    do {                         \
        if (!(condition)) ::zofuzz::Broken(__FILE__, __LINE__, #condition); \
    } while (0)
