#include "ListenerSession.h"

#include "CNSession.h"
#include "LogWriter.h"
#include "MessageFrame.h"
#include "SessionMessages.h"
#include "zo/XmlCodec.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace zo {

namespace {

constexpr const char* kFunction = "void zo::ServeConnection(SocketTransport&, const PeerInfo&, const SessionContext&)";

// Bounds on the lingering close after a final answer.
constexpr int kLingerMillis = 1000;
constexpr size_t kLingerBytes = 1u << 20;

// Compares without leaking through timing how much of the secret matched.
bool SameSecret(const std::string& given, const std::string& expected) {
    if (expected.empty() || given.size() != expected.size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < given.size(); ++i) difference |= static_cast<unsigned char>(given[i] ^ expected[i]);
    return difference == 0;
}

bool Answer(SocketTransport& transport, const CNMessageBase& answer, const SessionContext& context,
            std::string& frame) {
    std::string error;
    if (!EncodeFrame(answer, SIZE_MAX, frame, error)) return false;
    return transport.Send(frame, Deadline(context.options.frameDeadlineSec), error) == IoStatus::Ok;
}

// Closing with unread input would reset the connection and could destroy the
// answer before the peer reads it, so the input is drained (bounded) first.
void LingerAfterFinalAnswer(SocketTransport& transport) {
    transport.ShutdownWrite();
    const Deadline deadline = Deadline::FromMillis(kLingerMillis);
    char sink[4096];
    size_t drained = 0;
    while (drained < kLingerBytes && WaitForFd(transport.Fd(), POLLIN, deadline) > 0) {
        const ssize_t n = ::recv(transport.Fd(), sink, sizeof sink, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
        if (n > 0) drained += static_cast<size_t>(n);
    }
}

void FinalAnswer(SocketTransport& transport, const CNMessageBase& answer, const SessionContext& context,
                 std::string& frame) {
    if (Answer(transport, answer, context, frame)) LingerAfterFinalAnswer(transport);
}

std::unique_ptr<CNMessageBase> CallHandler(const CNMessageBase& request, const PeerInfo& peer,
                                           const SessionContext& context) {
    try {
        return context.handler(request, peer);
    } catch (...) {
        return nullptr;  // the client waits for an answer without limit: it gets one below
    }
}

// Starts the stream (the TLS handshake) by the presentation deadline. False
// when the connection is to be closed: a peer that spoke plain frames to a
// TLS port is told so first, in plain.
bool StartStream(SocketTransport& transport, const PeerInfo& peer, const SessionContext& context,
                 std::string& frame) {
    std::string error;
    switch (transport.AcceptStream(context.presentBy, context.stopFd, error)) {
        case SocketTransport::Accepted::Ready:
            return true;
        case SocketTransport::Accepted::NotTls:
            FinalAnswer(transport,
                        *MakeProtocolError(kProtocolError, "this port speaks TLS: connect with tls:HOST:PORT"),
                        context, frame);
            return false;
        case SocketTransport::Accepted::Failed:
            break;
    }
    if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= 1)
        g_ptrLogWriter->Write(1, kFunction, __LINE__, 0, 0, "TLS with %s refused: %s", peer.address.c_str(),
                              error.c_str());
    return false;
}

}  // namespace

void ServeConnection(SocketTransport& transport, const PeerInfo& peer, const SessionContext& context) {
    const ListenerOptions& options = context.options;
    std::string payload;
    std::string frame;
    std::string error;
    if (!StartStream(transport, peer, context, frame)) return;
    bool validated = options.sessionId.empty();
    if (validated && !context.admit()) return;
    for (;;) {
        // Before the session only the presentation deadline counts, for every
        // byte of its frame too.
        if (transport.WaitForInput(validated ? Deadline(-1) : context.presentBy, context.stopFd) <= 0) return;
        const IoStatus status = transport.Receive(
            payload, validated ? Deadline(options.frameDeadlineSec) : context.presentBy, options.limits.maxFrameBytes,
            error);
        if (status != IoStatus::Ok) {
            if (status == IoStatus::Failed && transport.LastFailure() == SocketTransport::Failure::BadFrame)
                FinalAnswer(transport, *MakeProtocolError(kProtocolError, error), context, frame);
            return;  // closed, late, or broken
        }
        std::unique_ptr<CNMessageBase> request = DecodeMessageInPlace(&payload[0], payload.size(), options.limits, error);
        if (!request) {
            FinalAnswer(transport, *MakeProtocolError(kProtocolError, error), context, frame);
            return;
        }
        std::unique_ptr<CNMessageBase> answer;
        if (IsMessageType(*request, CNSession::Wire::kGroup, CNSession::Wire::kValidateReqId)) {
            const bool accepted =
                options.sessionId.empty() || SameSecret(ValidateRequestSession(*request), options.sessionId);
            if (!accepted) {
                FinalAnswer(transport, *MakeValidateResponse(kSessionRefused, "session refused"), context, frame);
                return;
            }
            if (!validated && !context.admit()) {
                FinalAnswer(transport,
                            *MakeValidateResponse(kServiceBusy, "the service serves its maximum of " +
                                                                    std::to_string(options.maxConnections) +
                                                                    " connections; try again later"),
                            context, frame);
                return;
            }
            validated = true;
            answer = MakeValidateResponse(0, "");
        } else if (!validated) {
            FinalAnswer(transport, *MakeValidateResponse(kSessionRefused, "no session presented"), context, frame);
            return;
        } else {
            answer = CallHandler(*request, peer, context);
            if (!answer) {
                FinalAnswer(transport, *MakeProtocolError(kHandlerFailed, "the service failed to answer"), context,
                            frame);
                return;
            }
        }
        if (!Answer(transport, *answer, context, frame)) return;
        ++context.served;
    }
}

}  // namespace zo
