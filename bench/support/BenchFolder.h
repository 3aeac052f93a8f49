// A private temporary folder for one benchmark run, removed at the end.
#pragma once

#include <string>

class CYbError;

namespace zobench {

class BenchFolder {
public:
    // Makes $TMPDIR/<prefix>-XXXXXX (or /tmp/...). Throws std::runtime_error on failure.
    explicit BenchFolder(const std::string& prefix);
    ~BenchFolder();
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Installs a log writer of level -2 in this process (nothing is logged, not
// even failures) and sets ZO_LOG_LEVEL=-2 for the programs it starts.
void SilenceLogging();

// Ends the program with "<what> failed: <error>" when `error` is one: the
// set-up of a benchmark either works or there is nothing to measure.
void Check(const CYbError& error, const char* what);

}  // namespace zobench
