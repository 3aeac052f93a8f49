#include "support/BenchFolder.h"

#include "CYbError.h"
#include "LogWriter.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace zobench {

BenchFolder::BenchFolder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder like " + pattern);
    m_path = pattern;
}

BenchFolder::~BenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void SilenceLogging() {
    g_ptrLogWriter.reset(new StderrLogWriter(-2));
    setenv("ZO_LOG_LEVEL", "-2", 1);
}

void Check(const CYbError& error, const char* what) {
    if (!error.IsError()) return;
    std::fprintf(stderr, "%s failed: %s\n", what, error.ToString().c_str());
    std::exit(1);
}

}  // namespace zobench
