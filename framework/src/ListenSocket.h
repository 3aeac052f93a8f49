// The listening socket of a service and the identity of accepted peers.
#pragma once

#include "zo/ServiceListener.h"

#include <sys/types.h>

#include <string>

namespace zo {

struct EndpointAddress;

class ListenSocket {
public:
    ListenSocket() = default;
    ~ListenSocket();  // closes; removes the unix socket file if it is still ours

    ListenSocket(const ListenSocket&) = delete;
    ListenSocket& operator=(const ListenSocket&) = delete;

    // Binds and listens on "unix:PATH", "tcp:HOST:PORT" or "tls:HOST:PORT".
    // A unix socket is made 0600 in a private folder (created 0700 when
    // missing, refused when open to others); a socket file left by a dead
    // service is replaced, one that still answers is not.
    bool Open(const std::string& endpoint, std::string& error);
    void Close();

    int Fd() const { return m_fd; }
    bool IsUnix() const { return !m_path.empty(); }
    // The address bound, with the real port when 0 was asked for.
    const std::string& BoundEndpoint() const { return m_bound; }

    // Accepts one connection (non-blocking, close-on-exec). -1 with errno
    // when none is waiting or accept failed.
    int Accept(PeerInfo& peer) const;

    // False with the reason when `endpoint` is plain TCP on an address that
    // is not a loopback one: the session and every request would cross the
    // network in clear.
    static bool PlainTcpAllowed(const std::string& endpoint, std::string& error);

    // True when the peer of an accepted unix connection may be served: it
    // runs as the effective user or as root.
    static bool UnixPeerAllowed(const PeerInfo& peer);

private:
    bool OpenUnix(const std::string& path, std::string& error);
    bool OpenTcp(const EndpointAddress& address, std::string& error);

    int m_fd = -1;
    std::string m_path;
    std::string m_bound;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

}  // namespace zo
