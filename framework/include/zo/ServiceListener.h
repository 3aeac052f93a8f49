// ServiceListener: the service side of on-demand connections.
//
// Listens on "unix:PATH" (socket 0600 in a 0700 folder), "tls:HOST:PORT"
// (TLS with the service's certificate, optionally requiring client
// certificates) or "tcp:HOST:PORT" (plain: only on loopback addresses unless
// allowed explicitly), accepts connections, and serves each on its own
// thread: frames are read with a deadline, decoded within limits and handed
// to the handler, whose answer is sent back. The first message of every
// connection must be a CNSession::ValidateODSSessionReq carrying the session
// identifier; later ones are answered by the listener itself as well. On a
// unix socket the peer must run as the same user (or root). A frame that
// cannot be decoded is answered with a protocol-error message and the
// connection is closed.
//
// Until it has presented the session a connection is pending: pending
// connections have slots of their own (in total and per peer address), apart
// from the slots of validated connections, and a short deadline for the TLS
// handshake and the session together. A connection beyond the pending slots
// is closed at once, so a flood of connections that never present a session
// cannot keep a validated client from being served.
#pragma once

#include "../CNMessageBase.h"
#include "../CYbError.h"
#include "Limits.h"
#include "TlsSettings.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace zo {

struct PeerInfo {
    int pid = -1;
    int uid = -1;
    std::string address;  // "unix" or "HOST:PORT"
    std::string host;     // "unix" or the address without the port
};

struct ListenerOptions {
    std::string endpoint;            // unix:PATH, tls:HOST:PORT or tcp:HOST:PORT (port 0 picks one)
    std::string sessionId;           // empty: no session check (only for tests)
    TlsServerSettings tls;           // for a tls: endpoint
    bool allowPlainTcp = false;      // tcp: on addresses other than loopback ones
    int maxConnections = 256;        // validated connections served at once
    int maxPending = 64;             // connections that have not presented the session yet
    int maxPendingPerPeer = 16;      // of those, from one address (on a unix socket: one user)
    // The TLS handshake and the session must be done within this of the
    // accept (and within frameDeadlineSec).
    int sessionDeadlineSec = 5;
    int frameDeadlineSec = 30;       // a frame begun must be complete within this
    int idleExitSec = 0;             // exit Run() after this long without connections; 0 never
    DecodeLimits limits;
    std::string readyFile;           // touched once listening (optional)
    int readyFd = -1;                // "R" written and closed once listening (optional)
    // Called by Run() from its accepting loop every `heartbeatMillis` while
    // the loop turns (a supervisor's keep-alive); never when 0 or empty.
    int heartbeatMillis = 0;
    std::function<void()> heartbeat;
};

// Answers one decoded request. Must always return a message (never null).
using RequestHandler = std::function<std::unique_ptr<CNMessageBase>(const CNMessageBase& request,
                                                                    const PeerInfo& peer)>;

class ServiceListener {
public:
    ServiceListener(ListenerOptions options, RequestHandler handler);
    ~ServiceListener();  // stops and joins every connection thread

    // Binds and listens; afterwards BoundEndpoint() holds the real address.
    CYbError Start();
    // Accepts and serves until Stop() or the idle time runs out.
    void Run();
    // Thread-safe and async-signal-safe.
    void Stop();

    std::string BoundEndpoint() const;
    int ActiveConnections() const;   // pending and validated
    int PendingConnections() const;
    long RefusedPending() const;     // closed at once: no pending slot was free
    long ServedRequests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace zo
