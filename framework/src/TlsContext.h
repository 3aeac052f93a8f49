// OpenSSL contexts for the two ends of a TLS connection, made once from the
// settings and shared by every connection of that end.
#pragma once

#include "zo/TlsSettings.h"

#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace zo {

class TlsContext {
public:
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // Null with the reason (naming the file at fault) when a file cannot be
    // loaded or the key does not match the certificate.
    static std::shared_ptr<TlsContext> ForClient(const TlsClientSettings& settings, std::string& error);
    static std::shared_ptr<TlsContext> ForServer(const TlsServerSettings& settings, std::string& error);

    SSL_CTX* Get() const { return m_context; }

private:
    explicit TlsContext(SSL_CTX* context) : m_context(context) {}
    SSL_CTX* m_context;
};

// The reasons queued by OpenSSL on this thread, as one line (the queue is
// emptied); `fallback` when there are none.
std::string TlsErrorText(const std::string& fallback = "unknown TLS failure");

// The stream socket under an SSL object: a BIO on `fd` that never raises
// SIGPIPE and never blocks. The BIO does not own `fd`.
BIO* NewSocketBio(int fd);

}  // namespace zo
