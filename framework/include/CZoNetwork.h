// CZoNetwork: a connection that carries whole messages.
//
// Each message travels as one frame: a 4-byte big-endian payload length and
// the message's XML (docs/PROTOCOL.md). Time limits are in seconds; -1 means
// no limit, except that a receive asked for without a limit gets the
// connection's receive limit when one is configured (ZO_RECEIVE_TIMEOUT, else
// [Network] ReceiveTimeoutSeconds; read when the connection is made). A send
// or receive that runs out of time returns success with the time-out flag
// set; a failure returns an error. After a failure (peer closed, garbage, an
// oversized frame, a time-out mid-frame) the connection is not good any more
// and every later call fails at once. A receive that times out closes the
// connection too: the answer it waited for may still come, and must never be
// taken for the answer to a later request. No SIGPIPE is raised.
//
// Errors are in the errno space: ENOTCONN (not connected, or failed before),
// EMSGSIZE (the message exceeds the frame limit; nothing was sent and the
// connection stays good), EIO (the transport failed), EPROTO (an
// undecodable message arrived), EINVAL and ECONNREFUSED (Connect).
#pragma once

#include "CNMessageBase.h"
#include "CYbError.h"
#include "ZoTypes.h"

#include <memory>
#include <string>

namespace zo {
class Transport;
struct DecodeLimits;
struct TlsClientSettings;
}

class CZoNetwork {
public:
    CZoNetwork();
    ~CZoNetwork();

    CZoNetwork(const CZoNetwork&) = delete;
    CZoNetwork& operator=(const CZoNetwork&) = delete;

    // Sends `message`. `options` is reserved (0).
    CYbError SendXMLMessage(CNMessageBase& message, unsigned int options, int timeoutSec, bool& timedOut);

    // Receives one message; on success `message` points to a new message that
    // the caller owns (delete). `outValue` receives the frame's payload size
    // when not null; `header`, when not null, is zeroed.
    CYbError ReceiveXMLMessage(unsigned long* outValue, CNMessageBase*& message,
                               zosHostProtocolHeader* header, unsigned int options, int timeoutSec,
                               bool& timedOut);

    // Non-zero while the connection can carry messages: it is open, no call
    // failed on it, and the peer has not closed its side (checked without
    // blocking; a connection whose peer is gone is closed).
    int IsConnectionGood();

    // Framework side: the launcher and the service listener attach connections.
    // Connects to "unix:PATH", "tcp:HOST:PORT", "tls:HOST:PORT" or
    // "inproc:NAME"; the time limit covers a TLS handshake too. A "tls:"
    // service is verified against the system's trusted CAs, or as `tls` says.
    CYbError Connect(const std::string& endpoint, int timeoutSec);
    CYbError Connect(const std::string& endpoint, int timeoutSec, const zo::TlsClientSettings& tls);
    void Adopt(std::unique_ptr<zo::Transport> transport);
    void Close();
    const std::string& Endpoint() const { return m_endpoint; }
    void SetLimits(const zo::DecodeLimits& limits);

private:
    bool Usable() const;

    std::unique_ptr<zo::Transport> m_transport;
    int m_receiveLimitSec = -1;  // for receives asked for without a limit
    std::unique_ptr<zo::DecodeLimits> m_limits;
    std::string m_endpoint;
    // Reused from message to message; one that grew past 1 MiB is given back
    // after its message.
    std::string m_sendBuffer;     // one frame is encoded here per send
    std::string m_receiveBuffer;  // the payload of a frame, decoded in place
};
