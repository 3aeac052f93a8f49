#include "support/TgtdProcess.h"
#include "support/ReadAll.h"

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <thread>
#include <unistd.h>

namespace zotest {

using zoscsi::tgt::ProcessResult;

std::string TgtdSocketPath(int controlPort) { return "/var/run/tgtd/socket." + std::to_string(controlPort); }

void RemoveTgtdSockets(int controlPort) {
    const std::string socket = TgtdSocketPath(controlPort);
    ::unlink(socket.c_str());
    ::unlink((socket + ".lock").c_str());
}

ProcessResult Tgtadm(int controlPort, const std::vector<std::string>& words, size_t outputCap) {
    std::vector<std::string> argv{kTgtadmPath, "--control-port=" + std::to_string(controlPort), "--lld=iscsi"};
    argv.insert(argv.end(), words.begin(), words.end());
    zoscsi::tgt::ProcessOptions options;
    options.limit = std::chrono::seconds(30);
    options.outputCap = outputCap;
    return zoscsi::tgt::RunProcess(argv, options);
}

pid_t FindTgtd(int controlPort, pid_t except) {
    const std::string program = std::string(kTgtdPath) + '\0';
    const std::string wanted = "--control-port=" + std::to_string(controlPort) + '\0';
    DIR* proc = ::opendir("/proc");
    pid_t found = 0;
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
        if (pid <= 0 || pid == except) continue;
        const std::string cmdline = ReadAll("/proc/" + std::string(entry->d_name) + "/cmdline");
        if (cmdline.rfind(program, 0) == 0 && cmdline.find(wanted) != std::string::npos) found = pid;
    }
    if (proc) ::closedir(proc);
    return found;
}

bool StartTgtd(int controlPort, const std::string& portal, const std::string& log, zoscsi::tgt::ChildProcess& child,
               std::string& error) {
    if (!zoscsi::tgt::SpawnChild(
            {kTgtdPath, "-f", "--control-port=" + std::to_string(controlPort), "--iscsi", "portal=" + portal}, log,
            {"TGT_IPC_SOCKET"}, child, error))
        return false;
    for (int i = 0; i < 200; ++i) {
        if (!child.Running()) {
            error = "tgtd ended: " + child.ending();
            return false;
        }
        const ProcessResult shown = Tgtadm(controlPort, {"--mode", "portal", "--op", "show"});
        if (shown.Succeeded()) {
            // A tgtd that cannot bind the portal falls back to the wildcard.
            if (shown.out.find("Portal: " + portal + ",") != std::string::npos) return true;
            error = "tgtd serves " + shown.out + " instead of " + portal;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (error.empty()) error = "tgtd did not answer";
    child.Kill();
    return false;
}

}  // namespace zotest
