// Runs zoscsictl as a user would, against a real on-demand zoscsisrv in a
// private temporary runtime, state and configuration folder.
#pragma once

#include "Process.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace zotest {

class CtlHarness : public ::testing::Test {
protected:
    static constexpr const char* kClient = "ctltest";

    void SetUp() override;
    void TearDown() override;

    // zoscsictl --client ctltest ARGS...
    ProcessResult Ctl(const std::vector<std::string>& args);
    // zoscsictl ARGS... (no --client)
    ProcessResult CtlRaw(const std::vector<std::string>& args);

    // The document on standard output, parsed by a real JSON parser and
    // flattened to "path" -> compact JSON value; fails the test when it is
    // not exactly one JSON document.
    std::map<std::string, std::string> Json(const ProcessResult& result);

    // Rewrites the configuration file (e.g. without the service entry).
    void WriteConfig(const std::string& text);
    std::string ServiceEntry() const;

    std::string m_dir;
    std::string m_runtime;
    std::string m_state;
    std::string m_config;
    std::vector<std::string> m_env;

private:
    void StopInstances();
};

}  // namespace zotest
