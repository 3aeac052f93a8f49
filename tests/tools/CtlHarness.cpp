#include "CtlHarness.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace zotest {

namespace {

bool Alive(pid_t pid) { return kill(pid, 0) == 0; }

void Stop(pid_t pid) {
    if (pid <= 1 || !Alive(pid)) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 250 && Alive(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (Alive(pid)) kill(pid, SIGKILL);
}

}  // namespace

void CtlHarness::SetUp() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zoscsictl-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_dir = pattern;
    m_runtime = m_dir + "/run";
    m_state = m_dir + "/state";
    m_config = m_dir + "/zo.conf";
    fs::create_directories(m_runtime);
    fs::create_directories(m_state);
    fs::permissions(m_runtime, fs::perms::owner_all);
    WriteConfig(ServiceEntry());
    m_env = {"ZO_RUNTIME_DIR=" + m_runtime, "ZO_STATE_DIR=" + m_state, "ZO_CONFIG=" + m_config, "ZO_LOG_LEVEL"};
}

std::string CtlHarness::ServiceEntry() const {
    return std::string("[OnDemandServices]\nZoScsiSrv = ") + ZO_TEST_ZOSCSISRV + "\nZoScsiSrv.idle_exit = 60\n";
}

void CtlHarness::WriteConfig(const std::string& text) {
    std::ofstream(m_config, std::ios::trunc) << text;
}

void CtlHarness::StopInstances() {
    const fs::path services = fs::path(m_runtime) / "ZoScsiSrv";
    std::error_code ec;
    if (!fs::is_directory(services, ec)) return;
    for (const auto& client : fs::directory_iterator(services, ec)) {
        std::ifstream pidFile(client.path() / "pid");
        long pid = 0;
        if (pidFile >> pid) Stop(static_cast<pid_t>(pid));
    }
}

void CtlHarness::TearDown() {
    if (m_dir.empty()) return;
    StopInstances();
    std::error_code ec;
    fs::remove_all(m_dir, ec);
}

ProcessResult CtlHarness::CtlRaw(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ZO_TEST_ZOSCSICTL};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, m_env);
}

ProcessResult CtlHarness::Ctl(const std::vector<std::string>& args) {
    std::vector<std::string> full{"--client", kClient};
    full.insert(full.end(), args.begin(), args.end());
    return CtlRaw(full);
}

std::map<std::string, std::string> CtlHarness::Json(const ProcessResult& result) {
    const ProcessResult parsed = RunProcess({ZO_TEST_PYTHON3, ZO_TEST_JSON_FLATTEN, result.out});
    EXPECT_EQ(parsed.exitCode, 0) << "not one JSON document: [" << result.out << "] " << parsed.err;
    std::map<std::string, std::string> fields;
    std::istringstream lines(parsed.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

}  // namespace zotest
