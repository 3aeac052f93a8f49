// Endpoint texts: "unix:PATH", "tcp:HOST:PORT" and "tls:HOST:PORT" (HOST may
// be "[v6addr]"), and "inproc:NAME".
#pragma once

#include <string>

struct addrinfo;

namespace zo {

struct EndpointAddress {
    enum class Kind { Unix, Tcp, Tls, Inproc };
    Kind kind = Kind::Unix;
    std::string path;  // Unix: the socket's path
    std::string host;  // Tcp, Tls: name or address, without brackets
    int port = 0;      // Tcp, Tls: 0..65535 (0 only makes sense for listening)
    std::string name;  // Inproc
};

// Splits `text` into its parts. False with the reason in `error` for an
// unknown scheme, an empty part, a path that does not fit a socket address or
// holds a NUL, or a port that is not a decimal number up to 65535.
bool ParseEndpoint(const std::string& text, EndpointAddress& address, std::string& error);

// True when `text` starts with one of the schemes (whether or not the
// rest is valid): a registry value of this form names a running service.
bool LooksLikeEndpoint(const std::string& text);

// "tcp:HOST:PORT" (or "tls:HOST:PORT" for `kind` Tls), bracketing a host
// that holds a ':'.
std::string TcpEndpoint(const std::string& host, int port,
                        EndpointAddress::Kind kind = EndpointAddress::Kind::Tcp);

// The stream socket addresses of a Tcp or Tls `address`, to bind
// (`passive`) or to connect to; free them with freeaddrinfo. Null with the
// reason when the host does not resolve.
addrinfo* ResolveTcp(const EndpointAddress& address, bool passive, std::string& error);

}  // namespace zo
