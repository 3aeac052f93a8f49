// RawPeer: a client that speaks bytes, not messages, on a unix socket, so a
// test can send what no well-behaved client would (torn headers, huge
// lengths, hostile XML) and see how the service answers.
#pragma once

#include "CNMessageBase.h"
#include "ZoScsiServer.h"

#include <memory>
#include <string>

namespace zorel {

class RawPeer {
public:
    RawPeer() = default;
    ~RawPeer();
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool Connect(const std::string& socketPath);
    // Presents `session` and reads the answer; true when it was accepted.
    bool Handshake(const std::string& session);
    bool Send(const std::string& bytes);
    // One frame holding `message`.
    bool SendMessage(const CNMessageBase& message);
    void ShutdownWrite();
    // The next whole message, or null when none came within `timeoutMs`.
    std::unique_ptr<CNMessageBase> Read(int timeoutMs = 5000);
    // True when the service closed the connection (end of stream or reset)
    // within `timeoutMs`; what came before is dropped.
    bool Closed(int timeoutMs = 5000);
    void Close();

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// The frame header for `length` followed by `payload` (they need not agree).
std::string RawFrame(uint32_t length, const std::string& payload);
std::string FrameOf(const CNMessageBase& message);
std::string EncodedOf(const CNMessageBase& message);

// A service request of `def` (ZoScsiServer::Wire) with the header every
// client writes (value 1, fabric iSCSI, no flags); the caller adds the rest.
std::unique_ptr<CNMessageBase> ServiceRequest(const ZoScsiServer::Wire::Message& def);

// The generic command request: `word` (e.g. "lt") with its arguments.
std::unique_ptr<CNMessageBase> IoctlRequest(const std::string& word, const std::string& arguments);

// The session validation request a client sends first.
std::unique_ptr<CNMessageBase> SessionRequest(const std::string& session);

// The status object of an answer of the framework's session group (a
// validation response or a protocol error): false when there is none.
bool SessionGroupStatus(const CNMessageBase& answer, long long& number, std::string& text);

}  // namespace zorel
