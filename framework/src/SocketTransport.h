// Frames over a connected stream socket (unix or TCP), with poll-based
// deadlines. The socket is kept in blocking mode, and every call that must
// not block passes MSG_DONTWAIT. Writes use MSG_NOSIGNAL so a closed peer
// never raises SIGPIPE; EINTR is retried.
//
// Reads go through a small read-ahead buffer, so a small frame (header and
// payload) arrives with one recv; the rest of a large one is read straight
// into the caller's payload. Bytes of a following frame stay buffered for the
// next Receive (HasBufferedInput).
//
// The bytes themselves move through ReadStream and WriteStream; a transport
// that wraps the stream (TlsTransport) overrides those and shares the
// framing and the deadlines.
#pragma once

#include "Deadline.h"
#include "zo/Transport.h"

#include <memory>
#include <string>

namespace zo {

struct EndpointAddress;
struct TlsClientSettings;

class SocketTransport : public Transport {
public:
    // Why the last call failed, for callers that answer some failures (a
    // listener answers a bad frame with a protocol error before closing).
    enum class Failure { None, Closed, Io, BadFrame };

    explicit SocketTransport(int fd);  // takes ownership of fd
    ~SocketTransport() override;

    SocketTransport(const SocketTransport&) = delete;
    SocketTransport& operator=(const SocketTransport&) = delete;

    IoStatus SendFrame(const std::string& frame, int timeoutSec, std::string& error) override;
    IoStatus ReceiveFrame(std::string& payload, int timeoutSec, size_t maxPayload, std::string& error) override;
    bool IsGood() const override { return m_fd >= 0 && !m_readBroken && !m_writeBroken; }
    // One poll(2) without waiting: a hang-up, an error or the peer's end of
    // input (POLLRDHUP). Input that is merely waiting is no hang-up.
    bool PeerClosed() const override;
    void Close() override;

    // The same with an explicit deadline. Send needs only the output side
    // intact, Receive only the input side. With `waitFirst` Receive waits
    // (poll) for input before its first read: for an answer to what was just
    // sent, which is not there yet, that is one call fewer than a read that
    // finds nothing (and on the machines measured, docs/PERFORMANCE.md, a
    // wait in poll wakes sooner than one in recv);
    // without, it reads first.
    IoStatus Send(const std::string& frame, const Deadline& deadline, std::string& error);
    IoStatus Receive(std::string& payload, const Deadline& deadline, size_t maxPayload, std::string& error,
                     bool waitFirst = false);

    // True while bytes of a next frame are buffered (here or in the stream's
    // own buffer): a caller that waits for input on Fd() must not wait then.
    bool HasBufferedInput() const { return ReadAheadHolds() || StreamHasPending(); }

    // Waits until bytes of a frame can be read (1), the deadline passes (0),
    // or `stopFd` (when >= 0) turns readable or the wait fails (-1). A failure
    // of the stream also ends the wait with 1: the next Receive reports it.
    int WaitForInput(const Deadline& deadline, int stopFd = -1);

    // Server side: starts the stream of an accepted connection within the
    // deadline (a TLS handshake; nothing for a plain socket). NotTls: the
    // peer sent plain frames where TLS was expected; its refusal can still
    // be sent, unencrypted. Failed: the reason is in `error`.
    enum class Accepted { Ready, NotTls, Failed };
    virtual Accepted AcceptStream(const Deadline& deadline, int stopFd, std::string& error);

    // Ends the output side (after a final answer): the peer reads the end of
    // the stream once it has read everything sent before. Input may still be
    // drained from Fd().
    virtual void ShutdownWrite();

    int Fd() const { return m_fd; }
    Failure LastFailure() const { return m_failure; }

protected:
    // One step of moving bytes on the stream.
    struct Step {
        enum Kind { Done, End, Again, Wait, Error } kind = Error;
        size_t bytes = 0;      // Done: how many moved
        short events = 0;      // Wait: what to poll for before trying again
        bool closed = false;   // Error: the peer went away (reset, broken pipe)
        std::string text;      // Error: why
    };
    // One read of at most `size` bytes that does not block unless `mayBlock`.
    virtual Step ReadStream(char* data, size_t size, bool mayBlock);
    // One write of at most `size` bytes that does not block.
    virtual Step WriteStream(const char* data, size_t size);
    // True when the stream holds input that a poll of Fd() would not show
    // (perhaps only part of a record).
    virtual bool StreamHasPending() const { return false; }
    // True when a readable Fd() may carry no bytes of a frame (a record of
    // the wrapping protocol alone), so a wait for input must read to tell.
    virtual bool ReadableMayHoldNoData() const { return false; }
    // True when a send that moved nothing may still be given up: a stream
    // that must be offered the same bytes again says false once it began.
    virtual bool SendMayBeAbandoned() const { return true; }

private:
    bool ReadAheadHolds() const { return m_readEnd > m_readBegin; }
    // Reads into the read-ahead buffer until it holds at least `size` bytes.
    IoStatus Buffer(size_t size, const Deadline& deadline, bool waitFirst, std::string& error);
    // Reads exactly `size` bytes into `data`, past the read-ahead buffer.
    IoStatus ReadExact(char* data, size_t size, size_t& got, const Deadline& deadline, std::string& error);
    // One recv of at most `size` bytes: Ok with `got` > 0, TimedOut, or Failed.
    IoStatus ReadSome(char* data, size_t size, size_t& got, const Deadline& deadline, bool waitFirst,
                      std::string& error);
    IoStatus Fail(bool& broken, Failure failure, std::string text, std::string& error);
    // Passes on `status`, a failure after some bytes of a frame were read: a
    // time-out leaves the stream torn, and a close is named as one mid-frame.
    IoStatus FailedMidFrame(IoStatus status, std::string& error);

    int m_fd;
    std::unique_ptr<char[]> m_readAhead;  // made at the first Receive
    size_t m_readBegin = 0;
    size_t m_readEnd = 0;
    // Each direction breaks on its own: after a bad frame arrived the input
    // is lost, but an answer can still be written.
    bool m_readBroken = false;
    bool m_writeBroken = false;
    Failure m_failure = Failure::None;
};

// Connects to a unix, TCP or TLS address within the time limit (seconds, -1
// none), which covers the TLS handshake; `tls` applies to TLS addresses.
// Null with the reason in `error` on failure.
std::unique_ptr<SocketTransport> ConnectSocket(const EndpointAddress& address, int timeoutSec,
                                               const TlsClientSettings& tls, std::string& error);

// Waits until `fd` is ready for `events` (POLLIN or POLLOUT), the deadline
// passes, or `stopFd` (when >= 0) turns readable. Returns 1 when ready, 0 on
// time-out, -1 when stopped or poll failed (errno kept).
int WaitForFd(int fd, short events, const Deadline& deadline, int stopFd = -1);

// errno as text.
std::string ErrnoText(int error);

}  // namespace zo
