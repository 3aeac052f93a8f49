#include "SocketTransport.h"

#include "zo/FrameCodec.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zo {

namespace {
// The payload grows as bytes arrive, so an announced length costs memory only
// once the peer has actually sent that much: by 64 KiB at first, then by as
// much as has arrived (never more than twice what the peer sent, and few
// reads for a large frame). Only address space is reserved for the rest.
constexpr size_t kReadChunk = 64u << 10;
// Holds a small frame whole: answers and requests are a few hundred bytes.
constexpr size_t kReadAheadBytes = 4096;
}  // namespace

std::string ErrnoText(int error) {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be in buffer.
    return std::string(strerror_r(error, buffer, sizeof buffer));
}

int WaitForFd(int fd, short events, const Deadline& deadline, int stopFd) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int count = stopFd >= 0 ? 2 : 1;
        const int ready = ::poll(fds, count, deadline.PollMillis());
        if (ready < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (count == 2 && fds[1].revents != 0) return -1;
        if (fds[0].revents != 0) return 1;  // POLLHUP/POLLERR also end the wait: the next call says why
        if (deadline.Expired()) return 0;
    }
}

SocketTransport::SocketTransport(int fd) : m_fd(fd) {
    if (m_fd >= 0) {
        const int flags = ::fcntl(m_fd, F_GETFL);
        if (flags < 0 || ((flags & O_NONBLOCK) && ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) < 0))
            m_readBroken = m_writeBroken = true;
    }
}

SocketTransport::~SocketTransport() { Close(); }

void SocketTransport::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

IoStatus SocketTransport::Fail(bool& broken, Failure failure, std::string text, std::string& error) {
    broken = true;
    m_failure = failure;
    error = std::move(text);
    return IoStatus::Failed;
}

IoStatus SocketTransport::SendFrame(const std::string& frame, int timeoutSec, std::string& error) {
    return Send(frame, Deadline(timeoutSec), error);
}

IoStatus SocketTransport::ReceiveFrame(std::string& payload, int timeoutSec, size_t maxPayload,
                                       std::string& error) {
    // A connection receives the answer to what it has just sent.
    return Receive(payload, Deadline(timeoutSec), maxPayload, error, true);
}

IoStatus SocketTransport::Send(const std::string& frame, const Deadline& deadline, std::string& error) {
    if (m_fd < 0 || m_writeBroken) return Fail(m_writeBroken, Failure::Io, "connection is not usable", error);
    size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(m_fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = WaitForFd(m_fd, POLLOUT, deadline);
            if (ready > 0) continue;
            if (ready == 0) {
                if (sent > 0) m_writeBroken = true;  // the peer would see a torn frame
                error = "send timed out";
                return IoStatus::TimedOut;
            }
            return Fail(m_writeBroken, Failure::Io, "poll: " + ErrnoText(errno), error);
        }
        const int code = n < 0 ? errno : EPIPE;
        return Fail(m_writeBroken, code == EPIPE || code == ECONNRESET ? Failure::Closed : Failure::Io,
                    "send: " + ErrnoText(code), error);
    }
    return IoStatus::Ok;
}

IoStatus SocketTransport::ReadSome(char* data, size_t size, size_t& got, const Deadline& deadline, bool waitFirst,
                                   std::string& error) {
    got = 0;
    // With a time limit poll waits and the read must not; without one a read
    // that finds nothing may wait itself.
    const int flags = deadline.Unlimited() ? 0 : MSG_DONTWAIT;
    bool wait = waitFirst;
    for (;;) {
        if (wait) {
            const int ready = WaitForFd(m_fd, POLLIN, deadline);
            if (ready == 0) {
                error = "receive timed out";
                return IoStatus::TimedOut;
            }
            if (ready < 0) return Fail(m_readBroken, Failure::Io, "poll: " + ErrnoText(errno), error);
        }
        const ssize_t n = ::recv(m_fd, data, size, flags);
        if (n > 0) {
            got = static_cast<size_t>(n);
            return IoStatus::Ok;
        }
        if (n == 0) return Fail(m_readBroken, Failure::Closed, "connection closed by the peer", error);
        if (errno == EINTR) {
            wait = false;
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            wait = true;
            continue;
        }
        const int code = errno;
        return Fail(m_readBroken, code == ECONNRESET ? Failure::Closed : Failure::Io, "recv: " + ErrnoText(code),
                    error);
    }
}

IoStatus SocketTransport::ReadExact(char* data, size_t size, size_t& got, const Deadline& deadline,
                                    std::string& error) {
    got = 0;
    while (got < size) {
        size_t n = 0;
        const IoStatus status = ReadSome(data + got, size - got, n, deadline, false, error);
        if (status != IoStatus::Ok) return status;
        got += n;
    }
    return IoStatus::Ok;
}

IoStatus SocketTransport::Buffer(size_t size, const Deadline& deadline, bool waitFirst, std::string& error) {
    if (!m_readAhead) m_readAhead.reset(new char[kReadAheadBytes]);
    if (m_readBegin == m_readEnd) m_readBegin = m_readEnd = 0;
    if (kReadAheadBytes - m_readBegin < size) {  // keep the buffered bytes at the front
        std::memmove(m_readAhead.get(), m_readAhead.get() + m_readBegin, m_readEnd - m_readBegin);
        m_readEnd -= m_readBegin;
        m_readBegin = 0;
    }
    bool wait = waitFirst;
    while (m_readEnd - m_readBegin < size) {
        size_t got = 0;
        const IoStatus status =
            ReadSome(m_readAhead.get() + m_readEnd, kReadAheadBytes - m_readEnd, got, deadline, wait, error);
        if (status != IoStatus::Ok) return status;
        m_readEnd += got;
        wait = true;  // a short read: the rest is still on its way
    }
    return IoStatus::Ok;
}

IoStatus SocketTransport::FailedMidFrame(IoStatus status, std::string& error) {
    if (status == IoStatus::TimedOut) m_readBroken = true;
    if (status == IoStatus::Failed && m_failure == Failure::Closed) error = "connection closed by the peer mid-frame";
    return status;
}

IoStatus SocketTransport::Receive(std::string& payload, const Deadline& deadline, size_t maxPayload,
                                  std::string& error, bool waitFirst) {
    if (m_fd < 0 || m_readBroken) return Fail(m_readBroken, Failure::Io, "connection is not usable", error);
    // Bytes of this frame already taken off the socket: a time-out after any
    // of them leaves the stream torn.
    const bool begun = HasBufferedInput();
    IoStatus status = Buffer(kFrameHeaderBytes, deadline, waitFirst && !begun, error);
    if (status != IoStatus::Ok) return HasBufferedInput() ? FailedMidFrame(status, error) : status;
    const char* header = m_readAhead.get() + m_readBegin;
    FrameView view;
    std::string frameError;
    if (ParseFrame(header, kFrameHeaderBytes, maxPayload, view, frameError) == FrameStatus::Error)
        return Fail(m_readBroken, Failure::BadFrame, frameError, error);

    const size_t length = FrameLength(header);
    m_readBegin += kFrameHeaderBytes;
    const size_t buffered = std::min(length, m_readEnd - m_readBegin);
    payload.assign(m_readAhead.get() + m_readBegin, buffered);
    m_readBegin += buffered;
    if (length > buffered && length - buffered < kReadAheadBytes) {
        // A small rest goes through the read-ahead buffer too: one recv.
        status = Buffer(length - buffered, deadline, true, error);
        const size_t got = std::min(length - buffered, m_readEnd - m_readBegin);
        payload.append(m_readAhead.get() + m_readBegin, got);
        m_readBegin += got;
        return status == IoStatus::Ok ? status : FailedMidFrame(status, error);
    }
    // Address space for the whole frame at once (no copy as it grows); its
    // pages are touched only as the bytes arrive.
    payload.reserve(length);
    while (payload.size() < length) {
        const size_t before = payload.size();
        const size_t chunk = std::min(length - before, std::max(before, kReadChunk));
        payload.resize(before + chunk);
        size_t got = 0;
        status = ReadExact(&payload[before], chunk, got, deadline, error);
        payload.resize(before + got);
        if (status != IoStatus::Ok) return FailedMidFrame(status, error);
    }
    return IoStatus::Ok;
}

}  // namespace zo
