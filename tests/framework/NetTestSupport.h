// Shared pieces of the connection, listener and launcher tests: temporary
// folders, environment guards, raw frames on raw sockets, and the session
// handshake as a client performs it.
#pragma once

#include "CNSession.h"
#include "CZoNetwork.h"
#include "zo/FrameCodec.h"
#include "zo/XmlCodec.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace zotest {

// A folder under /tmp (mode 0700), removed with everything in it.
class TempDir {
public:
    explicit TempDir(const char* tag = "net") {
        std::string pattern = std::string("/tmp/zo-") + tag + "-XXXXXX";
        if (::mkdtemp(&pattern[0])) m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets (or with null, unsets) an environment variable for one scope.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (old) m_old = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    EnvGuard(const char* name, const std::string& value) : EnvGuard(name, value.c_str()) {}
    ~EnvGuard() {
        if (m_had) ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else ::unsetenv(m_name.c_str());
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

// Polls `condition` every 10 ms for up to `limit`.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A test message of group 77 that carries one text, which the tests' echo
// handlers answer.
constexpr unsigned long kTextType = 0x77000001;
constexpr unsigned int kTextField = 0x11;

inline std::unique_ptr<CNMessageBase> Text(const std::string& text) {
    auto message = std::make_unique<CNMessageBase>(77, 5);
    message->setstring(1, 1, text, kTextType, kTextField);
    return message;
}

inline std::string TextOf(const CNMessageBase& message) { return message.getstring(1, 1, kTextType, kTextField); }

// A frame with the given 4-byte length and payload (they need not agree).
inline std::string RawFrame(uint32_t length, const std::string& payload) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((length >> shift) & 0xFF);
    return out + payload;
}

inline std::string FrameOf(const CNMessageBase& message) {
    std::string payload;
    zo::EncodeMessage(message, payload);
    std::string out;
    zo::AppendFrame(out, payload.data(), payload.size());
    return out;
}

inline bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly `size` bytes within `timeoutMs`; false on end of stream,
// error or time-out.
inline bool ReadExactly(int fd, char* data, size_t size, int timeoutMs = 5000) {
    size_t got = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        const ssize_t n = ::recv(fd, data + got, size - got, 0);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// One whole frame from a raw socket, decoded; null when none came.
inline std::unique_ptr<CNMessageBase> ReadMessage(int fd, int timeoutMs = 5000) {
    char header[zo::kFrameHeaderBytes];
    if (!ReadExactly(fd, header, sizeof header, timeoutMs)) return nullptr;
    std::string payload(zo::FrameLength(header), '\0');
    if (!ReadExactly(fd, &payload[0], payload.size(), timeoutMs)) return nullptr;
    std::string error;
    return zo::DecodeMessage(payload.data(), payload.size(), zo::DecodeLimits(), error);
}

// True when the peer closed `fd` (end of stream or reset) within `timeoutMs`,
// reading and dropping whatever came before.
inline bool PeerClosed(int fd, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char sink[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
        if (n < 0) return false;
    }
}

// A raw unix stream socket connected to `path`; -1 on failure.
inline int ConnectRawUnix(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A raw TCP socket connected to the port of `endpoint` ("tcp:" or "tls:")
// on 127.0.0.1, from the loopback address `source` when one is given; -1 on
// failure.
inline int ConnectRawTcp(const std::string& endpoint, const char* source = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    bool ok = !source || (::inet_pton(AF_INET, source, &address.sin_addr) == 1 &&
                          ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(endpoint.substr(endpoint.rfind(':') + 1))));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok = ok && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!ok) ::close(fd);
    return ok ? fd : -1;
}

inline std::unique_ptr<CNMessageBase> ValidateRequest(const std::string& session) {
    auto request = std::make_unique<CNSession::ValidateODSSessionReq>();
    request->setstring(1, 1, session, CNSession::Wire::kValidateReqType, CNSession::Wire::kValidateReqSessionId);
    return request;
}

// The status object of a validation response or a protocol error; null when
// `message` is null or carries none.
inline const CNMessageBase* StatusObject(const CNMessageBase* message) {
    namespace W = CNSession::Wire;
    if (!message) return nullptr;
    const unsigned long type = message->Id() == W::kProtocolErrorId ? W::kProtocolErrorType : W::kValidateRespType;
    const CNField* status = message->FindField(type, W::kValidateRespStatus);
    return status ? status->object.get() : nullptr;
}

// Its status number; -1 when there is none.
inline long long StatusNumber(const CNMessageBase* message) {
    const CNMessageBase* status = StatusObject(message);
    const CNField* number = status ? status->FindField(CNSession::Wire::kStatusType, CNSession::Wire::kStatusErrorNumber)
                                   : nullptr;
    return number ? number->i64 : -1;
}

// Its status text; "" when there is none.
inline std::string StatusText(const CNMessageBase* message) {
    const CNMessageBase* status = StatusObject(message);
    return status ? status->getstring(2, 2, CNSession::Wire::kStatusType, CNSession::Wire::kStatusErrorText) : "";
}

// One request and its answer over `network`; null when either step failed.
inline std::unique_ptr<CNMessageBase> Exchange(CZoNetwork& network, CNMessageBase& request, int timeoutSec = 5) {
    bool timedOut = false;
    if (network.SendXMLMessage(request, 0, timeoutSec, timedOut).IsError() || timedOut) return nullptr;
    CNMessageBase* answer = nullptr;
    if (network.ReceiveXMLMessage(nullptr, answer, nullptr, 0, timeoutSec, timedOut).IsError() || timedOut)
        return nullptr;
    return std::unique_ptr<CNMessageBase>(answer);
}

}  // namespace zotest
