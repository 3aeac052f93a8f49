#include "RawPeer.h"

#include "CNSession.h"
#include "zo/FrameCodec.h"
#include "zo/XmlCodec.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace zorel {
namespace {

namespace S = CNSession::Wire;

// Waits for input until the deadline; false on time-out.
bool Readable(int fd, std::chrono::steady_clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    return left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) > 0;
}

bool ReadExactly(int fd, char* data, size_t size, std::chrono::steady_clock::time_point end) {
    size_t got = 0;
    while (got < size) {
        if (!Readable(fd, end)) return false;
        const ssize_t n = ::recv(fd, data + got, size - got, 0);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

RawPeer::~RawPeer() { Close(); }

void RawPeer::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool RawPeer::Connect(const std::string& socketPath) {
    Close();
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return false;
    }
    return true;
}

bool RawPeer::Handshake(const std::string& session) {
    if (!SendMessage(*SessionRequest(session))) return false;
    std::unique_ptr<CNMessageBase> answer = Read();
    long long number = -1;
    std::string text;
    return answer && answer->Id() == S::kValidateRespId && SessionGroupStatus(*answer, number, text) && number == 0;
}

bool RawPeer::Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool RawPeer::SendMessage(const CNMessageBase& message) { return Send(FrameOf(message)); }

void RawPeer::ShutdownWrite() { ::shutdown(m_fd, SHUT_WR); }

std::unique_ptr<CNMessageBase> RawPeer::Read(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char header[zo::kFrameHeaderBytes];
    if (!ReadExactly(m_fd, header, sizeof header, end)) return nullptr;
    std::string payload(zo::FrameLength(header), '\0');
    if (!ReadExactly(m_fd, &payload[0], payload.size(), end)) return nullptr;
    std::string error;
    return zo::DecodeMessage(payload.data(), payload.size(), zo::DecodeLimits(), error);
}

bool RawPeer::Closed(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char sink[4096];
    for (;;) {
        if (!Readable(m_fd, end)) return false;
        const ssize_t n = ::recv(m_fd, sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

std::string RawFrame(uint32_t length, const std::string& payload) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((length >> shift) & 0xFF);
    return out + payload;
}

std::string EncodedOf(const CNMessageBase& message) {
    std::string payload;
    zo::EncodeMessage(message, payload);
    return payload;
}

std::string FrameOf(const CNMessageBase& message) {
    const std::string payload = EncodedOf(message);
    std::string out;
    zo::AppendFrame(out, payload.data(), payload.size());
    return out;
}

std::unique_ptr<CNMessageBase> ServiceRequest(const ZoScsiServer::Wire::Message& def) {
    namespace W = ZoScsiServer::Wire;
    auto message = std::make_unique<CNMessageBase>(W::kGroup, def.id);
    CNMessageBase* header = message->getObjectAccessor(true, true, W::kHeaderObject.first, W::kHeaderObject.second,
                                                       def.requestType, W::kHeaderObject.key, W::kGroup, W::kHeaderId);
    header->setint64(W::kHeaderValue.first, W::kHeaderValue.second, 1, W::kHeaderType, W::kHeaderValue.key);
    header->setint64(W::kHeaderOpCtxFlags.first, W::kHeaderOpCtxFlags.second, 0, W::kHeaderType,
                     W::kHeaderOpCtxFlags.key);
    header->setint64(W::kHeaderFabric.first, W::kHeaderFabric.second, ZoScsiServer::ISCSI, W::kHeaderType,
                     W::kHeaderFabric.key);
    return message;
}

std::unique_ptr<CNMessageBase> IoctlRequest(const std::string& word, const std::string& arguments) {
    namespace W = ZoScsiServer::Wire;
    std::unique_ptr<CNMessageBase> message = ServiceRequest(W::kIoctl);
    message->setstring(W::kIoctlCommand.first, W::kIoctlCommand.second, word, W::kIoctl.requestType,
                       W::kIoctlCommand.key);
    message->setstring(W::kIoctlArguments.first, W::kIoctlArguments.second, arguments, W::kIoctl.requestType,
                       W::kIoctlArguments.key);
    return message;
}

std::unique_ptr<CNMessageBase> SessionRequest(const std::string& session) {
    auto request = std::make_unique<CNSession::ValidateODSSessionReq>();
    request->setstring(1, 1, session, S::kValidateReqType, S::kValidateReqSessionId);
    return request;
}

bool SessionGroupStatus(const CNMessageBase& answer, long long& number, std::string& text) {
    if (answer.Group() != S::kGroup) return false;
    const unsigned long type = answer.Id() == S::kValidateRespId ? S::kValidateRespType : S::kProtocolErrorType;
    const CNField* status = answer.FindField(type, S::kValidateRespStatus);
    if (!status || status->kind != CNFieldKind::Object || !status->object) return false;
    const CNField* n = status->object->FindField(S::kStatusType, S::kStatusErrorNumber);
    const CNField* t = status->object->FindField(S::kStatusType, S::kStatusErrorText);
    if (!n || !t) return false;
    number = n->i64;
    text = t->str;
    return true;
}

}  // namespace zorel
