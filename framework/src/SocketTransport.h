// Frames over a connected stream socket (unix or TCP), with poll-based
// deadlines. The socket is switched to non-blocking mode; writes use
// MSG_NOSIGNAL so a closed peer never raises SIGPIPE; EINTR is retried.
#pragma once

#include "Deadline.h"
#include "zo/Transport.h"

#include <memory>
#include <string>

namespace zo {

struct EndpointAddress;

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
    void Close() override;

    // The same with an explicit deadline. Send needs only the output side
    // intact, Receive only the input side.
    IoStatus Send(const std::string& frame, const Deadline& deadline, std::string& error);
    IoStatus Receive(std::string& payload, const Deadline& deadline, size_t maxPayload, std::string& error);

    int Fd() const { return m_fd; }
    Failure LastFailure() const { return m_failure; }

private:
    IoStatus ReadExact(char* data, size_t size, size_t& got, const Deadline& deadline, std::string& error);
    IoStatus Fail(bool& broken, Failure failure, std::string text, std::string& error);

    int m_fd;
    // Each direction breaks on its own: after a bad frame arrived the input
    // is lost, but an answer can still be written.
    bool m_readBroken = false;
    bool m_writeBroken = false;
    Failure m_failure = Failure::None;
};

// Connects to a unix or TCP address within the time limit (seconds, -1 none).
// Null with the reason in `error` on failure.
std::unique_ptr<SocketTransport> ConnectSocket(const EndpointAddress& address, int timeoutSec,
                                               std::string& error);

// Waits until `fd` is ready for `events` (POLLIN or POLLOUT), the deadline
// passes, or `stopFd` (when >= 0) turns readable. Returns 1 when ready, 0 on
// time-out, -1 when stopped or poll failed (errno kept).
int WaitForFd(int fd, short events, const Deadline& deadline, int stopFd = -1);

// errno as text.
std::string ErrnoText(int error);

}  // namespace zo
