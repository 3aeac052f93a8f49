// What a CZoNetwork moves frames over: a socket, or an in-process peer.
#pragma once

#include <string>

namespace zo {

// FailedTimedOut is a failure that also reports the time-out flag; only a
// scripted peer (InprocEndpoint) produces it.
enum class IoStatus { Ok, TimedOut, Failed, FailedTimedOut };

class Transport {
public:
    virtual ~Transport() = default;
    // Sends one complete frame (header and payload). A time-out before any
    // byte left keeps the transport good; one after part of the frame went
    // out, and every failure, leave it not good.
    virtual IoStatus SendFrame(const std::string& frame, int timeoutSec, std::string& error) = 0;
    // Receives the payload of the next frame into `payload` (reusing its
    // storage). A payload above maxPayload is a failure. A time-out before
    // any byte of the frame arrived keeps the transport good; a time-out
    // mid-frame and every failure leave it not good.
    virtual IoStatus ReceiveFrame(std::string& payload, int timeoutSec, size_t maxPayload,
                                  std::string& error) = 0;
    virtual bool IsGood() const = 0;
    // True when the peer has closed its side or the connection broke,
    // learnt without blocking and without taking any input. A transport
    // that cannot tell answers false.
    virtual bool PeerClosed() const { return false; }
    virtual void Close() = 0;
};

}  // namespace zo
