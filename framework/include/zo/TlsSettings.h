// TLS settings of the two ends of a "tls:HOST:PORT" connection. Files are
// PEM. Both ends use TLS 1.2 or later; the peer is always verified where a
// certificate is expected.
#pragma once

#include <string>

namespace zo {

struct TlsClientSettings {
    // CA certificates that the service's certificate must chain to; empty:
    // the system's trusted CAs. The name or address in the endpoint must
    // match the certificate (subjectAltName).
    std::string caFile;
    // The client's own certificate (chain) and key, for a service that asks
    // for one; empty: none. An empty keyFile reads the key from certFile.
    std::string certFile;
    std::string keyFile;
};

struct TlsServerSettings {
    std::string certFile;  // the service's certificate (chain)
    std::string keyFile;   // its private key
    // CA certificates that client certificates must chain to; when set, a
    // client without a valid certificate is refused (mutual TLS).
    std::string caFile;
};

}  // namespace zo
