#include "support/RawClient.h"

#include "zo/FrameCodec.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zobench {

RawClient::RawClient(const std::string& socketPath) : m_buffer(64u << 10) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long");
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to " + socketPath + ": " + std::strerror(errno));
}

RawClient::~RawClient() {
    if (m_fd >= 0) ::close(m_fd);
}

size_t RawClient::RoundTrip(const std::string& request) {
    size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(m_fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0) sent += static_cast<size_t>(n);
        else if (!(n < 0 && errno == EINTR)) break;
    }
    size_t have = 0;
    size_t need = zo::kFrameHeaderBytes;
    bool headerSeen = false;
    while (have < need) {
        const ssize_t n = ::recv(m_fd, m_buffer.data() + have, m_buffer.size() - have, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::fprintf(stderr, "raw client: the peer went away\n");
            std::abort();
        }
        have += static_cast<size_t>(n);
        if (!headerSeen && have >= zo::kFrameHeaderBytes) {
            headerSeen = true;
            need = zo::kFrameHeaderBytes + zo::FrameLength(m_buffer.data());
            if (m_buffer.size() < need) m_buffer.resize(need);
        }
    }
    return need;
}

}  // namespace zobench
