// One accepted connection of a ServiceListener, served on its own thread.
#pragma once

#include "SocketTransport.h"
#include "zo/ServiceListener.h"

#include <atomic>

namespace zo {

struct SessionContext {
    const ListenerOptions& options;
    const RequestHandler& handler;
    int stopFd;                // readable once the listener stops
    std::atomic<long>& served; // counts every answered request
};

// Serves requests until the peer closes, a frame is late or bad, the session
// is refused, or the listener stops. Does not close the transport.
//
// The first message must be a validation request with the session
// identifier, presented within one frame deadline of the accept; later ones
// may wait without limit. Once a frame has begun, all of it must arrive
// within the frame deadline, and each answer must leave within it too.
void ServeConnection(SocketTransport& transport, const PeerInfo& peer, const SessionContext& context);

}  // namespace zo
