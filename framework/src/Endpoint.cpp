#include "Endpoint.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace zo {

namespace {

constexpr const char kUnix[] = "unix:";
constexpr const char kTcp[] = "tcp:";
constexpr const char kTls[] = "tls:";
constexpr const char kInproc[] = "inproc:";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool ParsePort(const std::string& digits, int& port) {
    if (digits.empty() || digits.size() > 5) return false;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > 65535) return false;
    port = value;
    return true;
}

bool ParseTcp(const std::string& rest, EndpointAddress::Kind kind, EndpointAddress& address, std::string& error) {
    std::string host;
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            error = "a bracketed host must be followed by ':PORT'";
            return false;
        }
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos) {
            error = "expected HOST:PORT";
            return false;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            error = "an IPv6 host must be written in brackets";
            return false;
        }
    }
    if (host.empty()) {
        error = "empty host";
        return false;
    }
    if (host.find('\0') != std::string::npos) {
        error = "host holds a NUL byte";
        return false;
    }
    if (!ParsePort(port, address.port)) {
        error = "port must be a decimal number from 0 to 65535";
        return false;
    }
    address.kind = kind;
    address.host = host;
    return true;
}

}  // namespace

bool LooksLikeEndpoint(const std::string& text) {
    return StartsWith(text, kUnix) || StartsWith(text, kTcp) || StartsWith(text, kTls) || StartsWith(text, kInproc);
}

bool ParseEndpoint(const std::string& text, EndpointAddress& address, std::string& error) {
    address = EndpointAddress();
    if (StartsWith(text, kUnix)) {
        std::string path = text.substr(sizeof kUnix - 1);
        if (path.empty()) {
            error = "empty socket path";
            return false;
        }
        if (path.find('\0') != std::string::npos) {
            error = "socket path holds a NUL byte";
            return false;
        }
        if (path.size() >= sizeof(sockaddr_un::sun_path)) {
            error = "socket path longer than " + std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes";
            return false;
        }
        address.kind = EndpointAddress::Kind::Unix;
        address.path = std::move(path);
        return true;
    }
    if (StartsWith(text, kTcp)) return ParseTcp(text.substr(sizeof kTcp - 1), EndpointAddress::Kind::Tcp, address, error);
    if (StartsWith(text, kTls)) return ParseTcp(text.substr(sizeof kTls - 1), EndpointAddress::Kind::Tls, address, error);
    if (StartsWith(text, kInproc)) {
        address.name = text.substr(sizeof kInproc - 1);
        if (address.name.empty()) {
            error = "empty in-process endpoint name";
            return false;
        }
        address.kind = EndpointAddress::Kind::Inproc;
        return true;
    }
    error = "unknown endpoint scheme (expected unix:, tcp:, tls: or inproc:)";
    return false;
}

std::string TcpEndpoint(const std::string& host, int port, EndpointAddress::Kind kind) {
    const bool bracket = host.find(':') != std::string::npos;
    return std::string(kind == EndpointAddress::Kind::Tls ? kTls : kTcp) + (bracket ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}

addrinfo* ResolveTcp(const EndpointAddress& address, bool passive, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : AI_ADDRCONFIG);
    addrinfo* list = nullptr;
    const std::string service = std::to_string(address.port);
    const int rc = ::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        error = "resolve " + address.host + ": " + ::gai_strerror(rc);
        return nullptr;
    }
    return list;
}

}  // namespace zo
