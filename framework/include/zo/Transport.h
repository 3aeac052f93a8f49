// What a CZoNetwork moves frames over: a socket, or an in-process peer.
#pragma once

#include <string>

namespace zo {

enum class IoStatus { Ok, TimedOut, Failed };

class Transport {
public:
    virtual ~Transport() = default;
    // Sends one complete frame (header and payload).
    virtual IoStatus SendFrame(const std::string& frame, int timeoutSec, std::string& error) = 0;
    // Receives the payload of the next frame into `payload` (reusing its
    // storage). A payload above maxPayload is a failure.
    virtual IoStatus ReceiveFrame(std::string& payload, int timeoutSec, size_t maxPayload,
                                  std::string& error) = 0;
    virtual bool IsGood() const = 0;
    virtual void Close() = 0;
};

}  // namespace zo
