#include "TlsContext.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zo {

namespace {

constexpr char kSessionIdContext[] = "zo-listener";

int BioSocket(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

int BioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::send(BioSocket(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && WouldBlock()) BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(BioSocket(bio), data, static_cast<size_t>(size), MSG_DONTWAIT);
    if (n < 0 && WouldBlock()) BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long BioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;  // writes are never held back
}

int BioPuts(BIO* bio, const char* text) { return BioWrite(bio, text, static_cast<int>(std::strlen(text))); }

BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zo stream socket");
        if (m) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_puts(m, BioPuts);
            BIO_meth_set_ctrl(m, BioControl);
        }
        return m;
    }();
    return method;
}

// What both ends share: TLS 1.2 or later, no renegotiation, writes that may
// end after any record (the transport offers the rest again), and reads that
// take what is there.
SSL_CTX* NewContext(const SSL_METHOD* method, std::string& error) {
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(method);
    if (!context) {
        error = "cannot make a TLS context: " + TlsErrorText();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_clear_mode(context, SSL_MODE_AUTO_RETRY);
    // A record's header and body (and whatever follows) in one read, not two.
    SSL_CTX_set_read_ahead(context, 1);
    return context;
}

bool LoadOwnCertificate(SSL_CTX* context, const std::string& certFile, const std::string& keyFile,
                        std::string& error) {
    const std::string& key = keyFile.empty() ? certFile : keyFile;
    if (SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1) {
        error = "cannot load the certificate " + certFile + ": " + TlsErrorText();
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = "cannot use the private key " + key + " with the certificate " + certFile + ": " + TlsErrorText();
        return false;
    }
    if (SSL_CTX_check_private_key(context) != 1) {
        error = "the private key " + key + " does not belong to the certificate " + certFile + ": " + TlsErrorText();
        return false;
    }
    return true;
}

bool LoadCaFile(SSL_CTX* context, const std::string& caFile, std::string& error) {
    if (SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1) {
        error = "cannot load the CA file " + caFile + ": " + TlsErrorText();
        return false;
    }
    return true;
}

}  // namespace

TlsContext::~TlsContext() { SSL_CTX_free(m_context); }

std::string TlsErrorText(const std::string& fallback) {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        const char* reason = ERR_reason_error_string(code);
        const std::string part = reason ? reason : "error " + std::to_string(ERR_GET_REASON(code));
        if (text.find(part) != std::string::npos) continue;
        if (!text.empty()) text += "; ";
        text += part;
    }
    return text.empty() ? fallback : text;
}

BIO* NewSocketBio(int fd) {
    BIO_METHOD* method = SocketBioMethod();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!bio) return nullptr;
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    BIO_set_init(bio, 1);
    return bio;
}

std::shared_ptr<TlsContext> TlsContext::ForClient(const TlsClientSettings& settings, std::string& error) {
    if (settings.certFile.empty() && !settings.keyFile.empty()) {
        error = "a private key (" + settings.keyFile + ") without a certificate";
        return nullptr;
    }
    SSL_CTX* raw = NewContext(TLS_client_method(), error);
    if (!raw) return nullptr;
    std::shared_ptr<TlsContext> context(new TlsContext(raw));
    SSL_CTX_set_verify(raw, SSL_VERIFY_PEER, nullptr);
    if (settings.caFile.empty()) {
        if (SSL_CTX_set_default_verify_paths(raw) != 1) {
            error = "cannot load the system's trusted CAs: " + TlsErrorText();
            return nullptr;
        }
    } else if (!LoadCaFile(raw, settings.caFile, error)) {
        return nullptr;
    }
    if (!settings.certFile.empty() && !LoadOwnCertificate(raw, settings.certFile, settings.keyFile, error))
        return nullptr;
    return context;
}

std::shared_ptr<TlsContext> TlsContext::ForServer(const TlsServerSettings& settings, std::string& error) {
    if (settings.certFile.empty() || settings.keyFile.empty()) {
        error = "a TLS endpoint needs a certificate and a private key";
        return nullptr;
    }
    SSL_CTX* raw = NewContext(TLS_server_method(), error);
    if (!raw) return nullptr;
    std::shared_ptr<TlsContext> context(new TlsContext(raw));
    if (!LoadOwnCertificate(raw, settings.certFile, settings.keyFile, error)) return nullptr;
    // Resumed sessions must be tied to this service's verification rules.
    SSL_CTX_set_session_id_context(raw, reinterpret_cast<const unsigned char*>(kSessionIdContext),
                                   sizeof kSessionIdContext - 1);
    if (settings.caFile.empty()) {
        SSL_CTX_set_verify(raw, SSL_VERIFY_NONE, nullptr);
        return context;
    }
    if (!LoadCaFile(raw, settings.caFile, error)) return nullptr;
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(settings.caFile.c_str());
    if (!names) {
        error = "no CA certificate in " + settings.caFile + ": " + TlsErrorText();
        return nullptr;
    }
    SSL_CTX_set_client_CA_list(raw, names);
    SSL_CTX_set_verify(raw, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    return context;
}

}  // namespace zo
