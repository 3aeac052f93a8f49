// Client side of the socket transport: connecting with a deadline.
#include "Endpoint.h"
#include "SocketTransport.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zo {

namespace {

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
    const int code = ConnectWithin(fd, reinterpret_cast<sockaddr*>(&address), sizeof address, deadline);
    if (code != 0) {
        ::close(fd);
        error = "connect to unix:" + path + ": " + ErrnoText(code);
        return nullptr;
    }
    return std::make_unique<SocketTransport>(fd);
}

std::unique_ptr<SocketTransport> ConnectTcp(const std::string& host, int port, const Deadline& deadline,
                                            std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        error = "resolve " + host + ": " + ::gai_strerror(rc);
        return nullptr;
    }
    error = "connect to " + TcpEndpoint(host, port) + ": no address";
    std::unique_ptr<SocketTransport> connected;
    for (addrinfo* ai = list; ai && !connected; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0) {
            error = "socket: " + ErrnoText(errno);
            continue;
        }
        const int code = ConnectWithin(fd, ai->ai_addr, ai->ai_addrlen, deadline);
        if (code != 0) {
            ::close(fd);
            error = "connect to " + TcpEndpoint(host, port) + ": " + ErrnoText(code);
            continue;
        }
        // Frames are written whole, so nothing is gained by delaying small ones.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connected = std::make_unique<SocketTransport>(fd);
    }
    ::freeaddrinfo(list);
    return connected;
}

}  // namespace

std::unique_ptr<SocketTransport> ConnectSocket(const EndpointAddress& address, int timeoutSec,
                                               std::string& error) {
    const Deadline deadline(timeoutSec);
    switch (address.kind) {
        case EndpointAddress::Kind::Unix:
            return ConnectUnix(address.path, deadline, error);
        case EndpointAddress::Kind::Tcp:
            return ConnectTcp(address.host, address.port, deadline, error);
        case EndpointAddress::Kind::Inproc:
            break;
    }
    error = "not a socket endpoint";
    return nullptr;
}

}  // namespace zo
