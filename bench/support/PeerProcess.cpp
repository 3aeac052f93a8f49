#include "support/PeerProcess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zobench {

PeerProcess::PeerProcess(const std::function<void()>& serve) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    m_pid = ::fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        ::close(ready[0]);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        try {
            serve();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "peer process: %s\n", error.what());
            ::_exit(1);
        }
        (void)!::write(ready[1], "R", 1);
        ::close(ready[1]);
        for (;;) ::pause();  // the peers serve on their threads until SIGTERM
    }
    ::close(ready[1]);
    char byte = 0;
    const ssize_t got = ::read(ready[0], &byte, 1);
    ::close(ready[0]);
    if (got != 1) throw std::runtime_error("the peer process did not start");
}

PeerProcess::~PeerProcess() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::rename(temporary.c_str(), path.c_str());
}

std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 1000; ++i) {
        std::ifstream in(path, std::ios::binary);
        if (in) {
            std::ostringstream bytes;
            bytes << in.rdbuf();
            return bytes.str();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error(path + " did not appear");
}

}  // namespace zobench
