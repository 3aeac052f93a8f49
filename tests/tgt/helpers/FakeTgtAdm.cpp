// A stand-in for tgtadm that the unit tests script through the environment:
//   ZO_FAKE_LOG           every call's argument vector is appended here,
//                         each argument as "<length>:<bytes>", a call per line
//   ZO_FAKE_MODE          "hang" (ignores SIGTERM, never ends), "garbage"
//                         (binary noise on stdout, exit 0), else scripted
//   ZO_FAKE_TARGETS       file printed for "--mode target --op show"
//   ZO_FAKE_PORTALS       file printed for "--mode portal --op show"
//   ZO_FAKE_FAIL_ON       a call with an argument containing this fails:
//   ZO_FAKE_FAIL_MESSAGE  written to stderr (default "tgtadm: invalid request"),
//   ZO_FAKE_FAIL_TIMES    for the first N such calls only (default: all), exit 22
//   ZO_FAKE_DELAY_MS      every call but a show sleeps this long first
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void Log(const std::string& path, int argc, char** argv) {
    if (path.empty()) return;
    std::ofstream log(path, std::ios::app | std::ios::binary);
    for (int i = 0; i < argc; ++i) log << std::strlen(argv[i]) << ':' << argv[i];
    log << '\n';
}

bool Has(const std::vector<std::string>& args, const std::string& word) {
    for (const std::string& arg : args)
        if (arg == word) return true;
    return false;
}

void Print(const std::string& path) {
    if (path.empty()) return;
    std::ifstream in(path, std::ios::binary);
    std::cout << in.rdbuf();
}

// Counts the failures so far in a file beside the log.
bool FailsThisTime(const std::string& logPath) {
    const std::string limit = Env("ZO_FAKE_FAIL_TIMES");
    if (limit.empty()) return true;
    const std::string counter = logPath + ".failures";
    long count = 0;
    {
        std::ifstream in(counter);
        in >> count;
    }
    if (count >= std::atol(limit.c_str())) return false;
    std::ofstream(counter) << count + 1;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string logPath = Env("ZO_FAKE_LOG");
    Log(logPath, argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string mode = Env("ZO_FAKE_MODE");
    if (mode == "hang") {
        std::signal(SIGTERM, SIG_IGN);
        for (;;) pause();
    }
    if (mode == "garbage") {
        unsigned state = 12345;
        for (int i = 0; i < 4096; ++i) {
            state = state * 1103515245u + 12345u;
            std::putchar(static_cast<int>(state >> 16));
        }
        return 0;
    }
    const std::string delay = Env("ZO_FAKE_DELAY_MS");
    if (!delay.empty() && !Has(args, "show")) usleep(static_cast<useconds_t>(std::atoi(delay.c_str()) * 1000));
    const std::string failOn = Env("ZO_FAKE_FAIL_ON");
    if (!failOn.empty()) {
        for (const std::string& arg : args) {
            if (arg.find(failOn) == std::string::npos || !FailsThisTime(logPath)) continue;
            const std::string message = Env("ZO_FAKE_FAIL_MESSAGE");
            std::cerr << (message.empty() ? "tgtadm: invalid request" : message) << '\n';
            return 22;
        }
    }
    if (Has(args, "show") && Has(args, "target")) Print(Env("ZO_FAKE_TARGETS"));
    if (Has(args, "show") && Has(args, "portal")) Print(Env("ZO_FAKE_PORTALS"));
    return 0;
}
