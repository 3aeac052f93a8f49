// A tgtadm stand-in for service-level tests, steered while the service runs.
// Everything lives in the folder $ZO_REL_TGTADM_DIR:
//   calls   every call's argument vector is appended, each argument as
//           "<length>:<bytes>", one call per line (byte for byte)
//   mode    read at every call: "ok" (the default), "hang" (ignores SIGTERM,
//           never ends), "garbage" (binary noise on standard output, exit 0),
//           or "hang-on WORD" / "garbage-on WORD" / "fail-on WORD" for the
//           calls that have an argument containing WORD only
// "--mode portal --op show" answers with the portal in $ZO_REL_TGTADM_PORTAL
// (default 127.0.0.1:3260); "--mode target --op show" answers with no target.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string Env(const char* name, const char* fallback = "") {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

bool AnyHas(const std::vector<std::string>& args, const std::string& word) {
    for (const std::string& arg : args)
        if (arg.find(word) != std::string::npos) return true;
    return false;
}

bool Has(const std::vector<std::string>& args, const char* word) {
    for (const std::string& arg : args)
        if (arg == word) return true;
    return false;
}

[[noreturn]] void Hang() {
    std::signal(SIGTERM, SIG_IGN);
    for (;;) pause();
}

int Garbage() {
    unsigned state = 2463534242u;
    for (int i = 0; i < 8192; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        std::putchar(static_cast<int>(state & 0xFF));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = Env("ZO_REL_TGTADM_DIR");
    if (folder.empty()) return 99;
    {
        std::ofstream calls(folder + "/calls", std::ios::app | std::ios::binary);
        for (int i = 0; i < argc; ++i) calls << std::strlen(argv[i]) << ':' << argv[i];
        calls << '\n';
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string mode, word;
    std::ifstream(folder + "/mode") >> mode >> word;
    const bool applies = word.empty() || AnyHas(args, word);
    if ((mode == "hang" || mode == "hang-on") && applies) Hang();
    if ((mode == "garbage" || mode == "garbage-on") && applies) return Garbage();
    if (mode == "fail-on" && applies) {
        std::fputs("tgtadm: this request is refused\n", stderr);
        return 22;
    }
    if (Has(args, "show") && Has(args, "portal"))
        std::printf("Portal: %s,1\n", Env("ZO_REL_TGTADM_PORTAL", "127.0.0.1:3260").c_str());
    return 0;
}
