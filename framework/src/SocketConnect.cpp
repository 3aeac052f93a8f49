// Client side of the socket transports: connecting with a deadline, which
// covers the TLS handshake too.
#include "Endpoint.h"
#include "SocketTransport.h"
#include "TlsTransport.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zo {

namespace {

constexpr int kMaxBacklogPauseMs = 50;

// Connects a non-blocking socket, waiting for an in-progress connect.
// Returns 0 or an errno.
int ConnectWithin(int fd, const sockaddr* address, socklen_t length, const Deadline& deadline) {
    if (::connect(fd, address, length) == 0) return 0;
    // An interrupted connect goes on asynchronously, like one in progress.
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    const int ready = WaitForFd(fd, POLLOUT, deadline);
    if (ready == 0) return ETIMEDOUT;
    if (ready < 0) return errno;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0) return errno;
    return error;
}

std::unique_ptr<SocketTransport> ConnectUnix(const std::string& path, const Deadline& deadline,
                                             std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());  // length checked by ParseEndpoint
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = "socket: " + ErrnoText(errno);
        return nullptr;
    }
    // A full backlog (a burst the service has not accepted yet) refuses with
    // EAGAIN at once: no refusal, so the connect is tried again, pausing a
    // little longer each time, until the deadline.
    int code = 0;
    for (int pauseMs = 1;; pauseMs = std::min(2 * pauseMs, kMaxBacklogPauseMs)) {
        code = ConnectWithin(fd, reinterpret_cast<sockaddr*>(&address), sizeof address, deadline);
        if (code != EAGAIN || deadline.Expired()) break;
        ::poll(nullptr, 0, std::min(pauseMs, deadline.PollMillis() < 0 ? pauseMs : deadline.PollMillis()));
    }
    if (code != 0) {
        ::close(fd);
        error = "connect to unix:" + path + ": " + ErrnoText(code);
        return nullptr;
    }
    return std::make_unique<SocketTransport>(fd);
}

// A connected TCP socket, or -1 with the reason in `error`.
int ConnectTcp(const EndpointAddress& address, const Deadline& deadline, std::string& error) {
    addrinfo* list = ResolveTcp(address, false, error);
    if (!list) return -1;
    const std::string endpoint = TcpEndpoint(address.host, address.port, address.kind);
    error = "connect to " + endpoint + ": no address";
    int connected = -1;
    for (addrinfo* ai = list; ai && connected < 0; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0) {
            error = "socket: " + ErrnoText(errno);
            continue;
        }
        const int code = ConnectWithin(fd, ai->ai_addr, ai->ai_addrlen, deadline);
        if (code != 0) {
            ::close(fd);
            error = "connect to " + endpoint + ": " + ErrnoText(code);
            continue;
        }
        // Frames are written whole, so nothing is gained by delaying small ones.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connected = fd;
    }
    ::freeaddrinfo(list);
    return connected;
}

std::unique_ptr<SocketTransport> ConnectTls(const EndpointAddress& address, const TlsClientSettings& tls,
                                            const Deadline& deadline, std::string& error) {
    const std::shared_ptr<TlsContext> context = TlsContext::ForClient(tls, error);
    if (!context) return nullptr;
    const int fd = ConnectTcp(address, deadline, error);
    if (fd < 0) return nullptr;
    auto transport = std::make_unique<TlsTransport>(fd, context);
    if (!transport->Connect(address.host, deadline, error)) {
        error = "TLS with " + TcpEndpoint(address.host, address.port, address.kind) + " failed: " + error;
        return nullptr;
    }
    return transport;
}

}  // namespace

std::unique_ptr<SocketTransport> ConnectSocket(const EndpointAddress& address, int timeoutSec,
                                               const TlsClientSettings& tls, std::string& error) {
    const Deadline deadline(timeoutSec);
    switch (address.kind) {
        case EndpointAddress::Kind::Unix:
            return ConnectUnix(address.path, deadline, error);
        case EndpointAddress::Kind::Tcp: {
            const int fd = ConnectTcp(address, deadline, error);
            return fd < 0 ? nullptr : std::make_unique<SocketTransport>(fd);
        }
        case EndpointAddress::Kind::Tls:
            return ConnectTls(address, tls, deadline, error);
        case EndpointAddress::Kind::Inproc:
            break;
    }
    error = "not a socket endpoint";
    return nullptr;
}

}  // namespace zo
