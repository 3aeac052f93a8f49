// One accepted connection of a ServiceListener, served on its own thread.
#pragma once

#include "SocketTransport.h"
#include "zo/ServiceListener.h"

#include <atomic>
#include <functional>

namespace zo {

struct SessionContext {
    const ListenerOptions& options;
    const RequestHandler& handler;
    int stopFd;                // readable once the listener stops
    std::atomic<long>& served; // counts every answered request
    Deadline presentBy;        // for the TLS handshake and the session
    // Moves the connection to a validated slot once its session is accepted;
    // false when every validated slot is taken.
    std::function<bool()> admit;
};

// Serves requests until the peer closes, a frame is late or bad, the session
// is refused, or the listener stops. Does not close the transport.
//
// The stream is started first (a TLS handshake), then the first message must
// be a validation request with the session identifier; both by `presentBy`.
// Later messages may wait without limit. Once a frame has begun, all of it
// must arrive within the frame deadline, and each answer must leave within
// it too.
void ServeConnection(SocketTransport& transport, const PeerInfo& peer, const SessionContext& context);

}  // namespace zo
