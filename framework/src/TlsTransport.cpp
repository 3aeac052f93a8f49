#include "TlsTransport.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>

namespace zo {

namespace {

// The first byte of every TLS connection: a handshake record.
constexpr unsigned char kHandshakeRecord = 0x16;

bool IsAddress(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 || ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

TlsTransport::TlsTransport(int fd, std::shared_ptr<TlsContext> context)
    : SocketTransport(fd), m_context(std::move(context)) {
    const int flags = fd >= 0 ? ::fcntl(fd, F_GETFL) : -1;
    BIO* bio = flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 ? NewSocketBio(fd) : nullptr;
    m_ssl = bio ? SSL_new(m_context->Get()) : nullptr;
    if (m_ssl) SSL_set_bio(m_ssl, bio, bio);  // the SSL object owns the BIO from here
    else if (bio) BIO_free(bio);
}

TlsTransport::~TlsTransport() {
    Close();
    if (m_ssl) SSL_free(m_ssl);
}

void TlsTransport::SendCloseAlert() {
    // An orderly end for the peer rather than a truncated stream; a peer that
    // reads nothing more does not hold it up.
    if (!m_plain && !m_fatal && m_ssl && Fd() >= 0 && SSL_is_init_finished(m_ssl) &&
        !(SSL_get_shutdown(m_ssl) & SSL_SENT_SHUTDOWN)) {
        ERR_clear_error();
        SSL_shutdown(m_ssl);
        ERR_clear_error();
    }
}

void TlsTransport::Close() {
    SendCloseAlert();
    SocketTransport::Close();
}

SocketTransport::Step TlsTransport::Outcome(int result, const char* what) {
    const int savedErrno = errno;
    Step step;
    const int code = SSL_get_error(m_ssl, result);
    switch (code) {
        case SSL_ERROR_WANT_READ:
            step.kind = Step::Wait;
            step.events = POLLIN;
            return step;
        case SSL_ERROR_WANT_WRITE:
            step.kind = Step::Wait;
            step.events = POLLOUT;
            return step;
        case SSL_ERROR_ZERO_RETURN:
            step.kind = Step::End;
            return step;
        default:
            break;
    }
    // After these no close alert may be sent.
    m_fatal = true;
    switch (code) {
        case SSL_ERROR_SYSCALL:
            if (ERR_peek_error() == 0 && (savedErrno == 0 || result == 0)) {
                step.kind = Step::End;
                return step;
            }
            step.closed = savedErrno == EPIPE || savedErrno == ECONNRESET;
            step.text = std::string(what) + ": " + (savedErrno ? ErrnoText(savedErrno) : TlsErrorText());
            return step;
        default:
            // A peer that ends the TCP stream without TLS's close alert.
            if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                ERR_clear_error();
                step.kind = Step::End;
                return step;
            }
            step.text = std::string(what) + ": " + TlsErrorText();
            return step;
    }
}

SocketTransport::Step TlsTransport::ReadStream(char* data, size_t size, bool mayBlock) {
    if (m_plain) return SocketTransport::ReadStream(data, size, mayBlock);
    if (!m_ssl) return Step{Step::Error, 0, 0, false, "TLS: no session"};
    ERR_clear_error();
    size_t got = 0;
    const int result = SSL_read_ex(m_ssl, data, size, &got);
    if (result == 1) return Step{Step::Done, got, 0, false, {}};
    return Outcome(result, "TLS receive");
}

SocketTransport::Step TlsTransport::WriteStream(const char* data, size_t size) {
    if (m_plain) return SocketTransport::WriteStream(data, size);
    if (!m_ssl) return Step{Step::Error, 0, 0, false, "TLS: no session"};
    ERR_clear_error();
    size_t written = 0;
    const int result = SSL_write_ex(m_ssl, data, size, &written);
    if (result == 1) {
        m_writeStarted = false;
        return Step{Step::Done, written, 0, false, {}};
    }
    Step step = Outcome(result, "TLS send");
    m_writeStarted = step.kind == Step::Wait || step.kind == Step::Again;
    if (step.kind == Step::End || step.kind == Step::Error) {
        // A peer that ends the connection after the handshake (a client
        // certificate it refused) says why in an alert waiting to be read.
        const std::string alert = PendingAlert();
        if (!alert.empty()) {
            step.kind = Step::Error;
            step.text = "TLS send: " + alert;
        }
    }
    return step;
}

std::string TlsTransport::PendingAlert() {
    ERR_clear_error();
    char byte;
    size_t got = 0;
    const int result = SSL_read_ex(m_ssl, &byte, 1, &got);
    if (result == 1 || SSL_get_error(m_ssl, result) != SSL_ERROR_SSL) return "";
    return TlsErrorText("");
}

// Bytes read ahead (a whole record, or part of one) that poll cannot see.
bool TlsTransport::StreamHasPending() const { return !m_plain && m_ssl && SSL_has_pending(m_ssl) == 1; }

bool TlsTransport::Handshake(const Deadline& deadline, int stopFd, std::string& error) {
    for (;;) {
        ERR_clear_error();
        const int result = SSL_do_handshake(m_ssl);
        if (result == 1) return true;
        Step step = Outcome(result, "TLS handshake");
        if (step.kind == Step::Again) continue;
        if (step.kind == Step::Wait) {
            const int ready = WaitForFd(Fd(), step.events, deadline, stopFd);
            if (ready > 0) continue;
            error = ready == 0 ? "TLS handshake timed out" : "TLS handshake stopped";
            return false;
        }
        if (step.kind == Step::End) {
            error = "the peer closed the connection during the TLS handshake";
            return false;
        }
        error = step.text;
        // The verification's own reason says more than "certificate verify failed".
        const long verified = SSL_get_verify_result(m_ssl);
        if (verified != X509_V_OK) error += " (" + std::string(X509_verify_cert_error_string(verified)) + ")";
        return false;
    }
}

bool TlsTransport::Connect(const std::string& host, const Deadline& deadline, std::string& error) {
    if (!m_ssl) {
        error = "cannot start TLS: " + TlsErrorText();
        return false;
    }
    // Without the name to check, any certificate of the CA would pass.
    const bool named = IsAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str()) == 1
                                       : SSL_set_tlsext_host_name(m_ssl, host.c_str()) == 1 &&
                                             SSL_set1_host(m_ssl, host.c_str()) == 1;
    if (!named) {
        error = "cannot verify the service as " + host + ": " + TlsErrorText();
        return false;
    }
    SSL_set_connect_state(m_ssl);
    return Handshake(deadline, -1, error);
}

SocketTransport::Accepted TlsTransport::AcceptStream(const Deadline& deadline, int stopFd, std::string& error) {
    if (!m_ssl) {
        error = "cannot start TLS: " + TlsErrorText();
        return Accepted::Failed;
    }
    // A client that speaks plain frames here gets told so in plain, not a
    // TLS alert that it cannot read.
    const int ready = WaitForFd(Fd(), POLLIN, deadline, stopFd);
    if (ready <= 0) {
        error = ready == 0 ? "no TLS handshake in time" : "stopped before the TLS handshake";
        return Accepted::Failed;
    }
    unsigned char first = 0;
    ssize_t n;
    do n = ::recv(Fd(), &first, 1, MSG_PEEK | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n == 1 && first != kHandshakeRecord) {
        m_plain = true;
        error = "plain bytes on a TLS port";
        return Accepted::NotTls;
    }
    SSL_set_accept_state(m_ssl);
    return Handshake(deadline, stopFd, error) ? Accepted::Ready : Accepted::Failed;
}

void TlsTransport::ShutdownWrite() {
    SendCloseAlert();
    SocketTransport::ShutdownWrite();
}

}  // namespace zo
