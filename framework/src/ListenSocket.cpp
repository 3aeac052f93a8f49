#include "ListenSocket.h"

#include "Endpoint.h"
#include "PrivateDir.h"
#include "SocketTransport.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zo {

namespace {

constexpr int kBacklog = 128;

sockaddr_un UnixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());  // length checked by ParseEndpoint
    return address;
}

// A socket file of a service that died stays behind; only a live one answers.
bool SocketFileAnswers(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;  // cannot tell: treat as in use
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
                         (errno != ECONNREFUSED && errno != ENOENT);
    ::close(fd);
    return answers;
}

bool IsLoopback(const sockaddr* address) {
    if (address->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    if (address->sa_family == AF_INET6) {
        const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&a) || (IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127);
    }
    return false;
}

std::string HostText(const sockaddr* address) {
    char host[INET6_ADDRSTRLEN] = "?";
    const void* raw = address->sa_family == AF_INET6
                          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr)
                          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
    ::inet_ntop(address->sa_family, raw, host, sizeof host);
    return host;
}

std::string AddressText(const sockaddr_storage& address) {
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    if (address.ss_family == AF_INET)
        return HostText(raw) + ":" + std::to_string(ntohs(reinterpret_cast<const sockaddr_in*>(raw)->sin_port));
    if (address.ss_family == AF_INET6)
        return "[" + HostText(raw) + "]:" +
               std::to_string(ntohs(reinterpret_cast<const sockaddr_in6*>(raw)->sin6_port));
    return "unix";
}

}  // namespace

ListenSocket::~ListenSocket() { Close(); }

void ListenSocket::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_path.empty()) {
        // A later instance may have replaced the file; leave that one alone.
        struct stat st {};
        if (::lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
            ::unlink(m_path.c_str());
        m_path.clear();
    }
}

bool ListenSocket::Open(const std::string& endpoint, std::string& error) {
    Close();
    EndpointAddress address;
    if (!ParseEndpoint(endpoint, address, error)) return false;
    switch (address.kind) {
        case EndpointAddress::Kind::Unix:
            return OpenUnix(address.path, error);
        case EndpointAddress::Kind::Tcp:
        case EndpointAddress::Kind::Tls:
            return OpenTcp(address, error);
        case EndpointAddress::Kind::Inproc:
            break;
    }
    error = "a service cannot listen on an in-process endpoint";
    return false;
}

bool ListenSocket::OpenUnix(const std::string& path, std::string& error) {
    if (EnsurePrivateDir(ParentDir(path), error) != 0) return false;
    const sockaddr_un address = UnixAddress(path);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        if (SocketFileAnswers(address)) {
            error = "a service already listens on unix:" + path;
            return false;
        }
        ::unlink(path.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = "socket: " + ErrnoText(errno);
        return false;
    }
    // The folder is private, so nobody can reach the socket before the chmod.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, kBacklog) != 0 || ::lstat(path.c_str(), &st) != 0) {
        error = "listen on unix:" + path + ": " + ErrnoText(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_bound = "unix:" + path;
    return true;
}

bool ListenSocket::PlainTcpAllowed(const std::string& endpoint, std::string& error) {
    EndpointAddress address;
    if (!ParseEndpoint(endpoint, address, error) || address.kind != EndpointAddress::Kind::Tcp) return true;
    addrinfo* list = ResolveTcp(address, true, error);
    if (!list) return true;  // Open says why
    bool allowed = true;
    for (addrinfo* ai = list; ai && allowed; ai = ai->ai_next) {
        if (IsLoopback(ai->ai_addr)) continue;
        allowed = false;
        error = "refusing plain TCP on " + endpoint + ": " + HostText(ai->ai_addr) +
                " is not a loopback address, and the session and every request would cross the network in "
                "clear; listen on tls:HOST:PORT with a certificate, or allow plain TCP explicitly "
                "(AllowPlainTcp=yes)";
    }
    ::freeaddrinfo(list);
    return allowed;
}

bool ListenSocket::OpenTcp(const EndpointAddress& endpoint, std::string& error) {
    addrinfo* list = ResolveTcp(endpoint, true, error);
    if (!list) return false;
    const std::string text = TcpEndpoint(endpoint.host, endpoint.port, endpoint.kind);
    error = "no address for " + endpoint.host;
    for (addrinfo* ai = list; ai && m_fd < 0; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0) continue;
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, kBacklog) != 0) {
            error = "listen on " + text + ": " + ErrnoText(errno);
            ::close(fd);
            continue;
        }
        m_fd = fd;
    }
    ::freeaddrinfo(list);
    if (m_fd < 0) return false;
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&bound), &length);
    const int boundPort = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                                      : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    m_bound = TcpEndpoint(endpoint.host, boundPort, endpoint.kind);
    return true;
}

int ListenSocket::Accept(PeerInfo& peer) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(m_fd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return -1;
    peer = PeerInfo();
    if (IsUnix()) {
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
            peer.pid = credentials.pid;
            peer.uid = static_cast<int>(credentials.uid);
        }
        peer.address = peer.host = "unix";
    } else {
        peer.address = AddressText(address);
        peer.host = HostText(reinterpret_cast<const sockaddr*>(&address));
    }
    return fd;
}

bool ListenSocket::UnixPeerAllowed(const PeerInfo& peer) {
    return peer.uid >= 0 && (static_cast<uid_t>(peer.uid) == ::geteuid() || peer.uid == 0);
}

}  // namespace zo
