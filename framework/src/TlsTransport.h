// Frames over TLS on a connected TCP socket: SocketTransport's framing and
// deadlines, with the bytes moved by OpenSSL. The socket is non-blocking;
// every wait is a poll with the caller's deadline, the handshake's included.
#pragma once

#include "SocketTransport.h"
#include "TlsContext.h"

#include <memory>
#include <string>

namespace zo {

class TlsTransport : public SocketTransport {
public:
    // Takes ownership of `fd`; the handshake is Connect's or Accept's.
    TlsTransport(int fd, std::shared_ptr<TlsContext> context);
    ~TlsTransport() override;

    // Client side: the handshake, verifying that the service's certificate
    // chains to the context's CAs and names `host` (a name or an address).
    // False with the reason (the verification's own when it failed).
    bool Connect(const std::string& host, const Deadline& deadline, std::string& error);

    Accepted AcceptStream(const Deadline& deadline, int stopFd, std::string& error) override;
    void ShutdownWrite() override;
    // Sends the close alert (once, without waiting) before closing.
    void Close() override;

protected:
    Step ReadStream(char* data, size_t size, bool mayBlock) override;
    Step WriteStream(const char* data, size_t size) override;
    bool StreamHasPending() const override;
    bool ReadableMayHoldNoData() const override { return !m_plain; }
    bool SendMayBeAbandoned() const override { return m_plain || !m_writeStarted; }

private:
    bool Handshake(const Deadline& deadline, int stopFd, std::string& error);
    void SendCloseAlert();
    // The reason of an alert the peer sent, when one can be read at once.
    std::string PendingAlert();
    // The step that an SSL call's `result` stands for.
    Step Outcome(int result, const char* what);

    std::shared_ptr<TlsContext> m_context;
    SSL* m_ssl = nullptr;
    // A peer that spoke plain frames to a TLS port: its refusal is sent plain.
    bool m_plain = false;
    // An SSL_write that could not finish must be offered the same bytes again.
    bool m_writeStarted = false;
    bool m_fatal = false;  // a failure after which no close alert may be sent
};

}  // namespace zo
