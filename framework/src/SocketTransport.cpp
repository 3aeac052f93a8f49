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

bool SocketTransport::PeerClosed() const {
    if (m_fd < 0) return true;
    pollfd fd{m_fd, POLLRDHUP, 0};
    int ready;
    while ((ready = ::poll(&fd, 1, 0)) < 0 && errno == EINTR) {
    }
    return ready > 0 && (fd.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

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

SocketTransport::Step SocketTransport::WriteStream(const char* data, size_t size) {
    Step step;
    const ssize_t n = ::send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
        step.kind = Step::Done;
        step.bytes = static_cast<size_t>(n);
        return step;
    }
    if (n < 0 && errno == EINTR) {
        step.kind = Step::Again;
        return step;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        step.kind = Step::Wait;
        step.events = POLLOUT;
        return step;
    }
    const int code = n < 0 ? errno : EPIPE;
    step.closed = code == EPIPE || code == ECONNRESET;
    step.text = "send: " + ErrnoText(code);
    return step;
}

SocketTransport::Step SocketTransport::ReadStream(char* data, size_t size, bool mayBlock) {
    Step step;
    const ssize_t n = ::recv(m_fd, data, size, mayBlock ? 0 : MSG_DONTWAIT);
    if (n > 0) {
        step.kind = Step::Done;
        step.bytes = static_cast<size_t>(n);
        return step;
    }
    if (n == 0) {
        step.kind = Step::End;
        return step;
    }
    if (errno == EINTR) {
        step.kind = Step::Again;
        return step;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        step.kind = Step::Wait;
        step.events = POLLIN;
        return step;
    }
    const int code = errno;
    step.closed = code == ECONNRESET;
    step.text = "recv: " + ErrnoText(code);
    return step;
}

SocketTransport::Accepted SocketTransport::AcceptStream(const Deadline&, int, std::string&) {
    return Accepted::Ready;
}

void SocketTransport::ShutdownWrite() {
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_WR);
}

IoStatus SocketTransport::Send(const std::string& frame, const Deadline& deadline, std::string& error) {
    if (m_fd < 0 || m_writeBroken) return Fail(m_writeBroken, Failure::Io, "connection is not usable", error);
    size_t sent = 0;
    while (sent < frame.size()) {
        const Step step = WriteStream(frame.data() + sent, frame.size() - sent);
        if (step.kind == Step::Done) {
            sent += step.bytes;
            continue;
        }
        if (step.kind == Step::Again) continue;
        if (step.kind == Step::Wait) {
            const int ready = WaitForFd(m_fd, step.events, deadline);
            if (ready > 0) continue;
            if (ready == 0) {
                // The peer would see a torn frame, or the stream wants these bytes again.
                if (sent > 0 || !SendMayBeAbandoned()) m_writeBroken = true;
                error = "send timed out";
                return IoStatus::TimedOut;
            }
            return Fail(m_writeBroken, Failure::Io, "poll: " + ErrnoText(errno), error);
        }
        if (step.kind == Step::End) return Fail(m_writeBroken, Failure::Closed, "connection closed by the peer", error);
        return Fail(m_writeBroken, step.closed ? Failure::Closed : Failure::Io, step.text, error);
    }
    return IoStatus::Ok;
}

IoStatus SocketTransport::ReadSome(char* data, size_t size, size_t& got, const Deadline& deadline, bool waitFirst,
                                   std::string& error) {
    got = 0;
    // With a time limit poll waits and the read must not; without one a read
    // that finds nothing may wait itself.
    const bool mayBlock = deadline.Unlimited();
    short events = waitFirst ? POLLIN : 0;
    // Input the stream holds spares the first wait; once the stream has said
    // it wants more (a record only begun), only the socket can bring it.
    bool streamWants = false;
    for (;;) {
        if (events != 0 && (streamWants || !StreamHasPending())) {
            const int ready = WaitForFd(m_fd, events, deadline);
            if (ready == 0) {
                error = "receive timed out";
                return IoStatus::TimedOut;
            }
            if (ready < 0) return Fail(m_readBroken, Failure::Io, "poll: " + ErrnoText(errno), error);
        }
        Step step = ReadStream(data, size, mayBlock);
        switch (step.kind) {
            case Step::Done:
                got = step.bytes;
                return IoStatus::Ok;
            case Step::End:
                return Fail(m_readBroken, Failure::Closed, "connection closed by the peer", error);
            case Step::Again:
                events = 0;
                continue;
            case Step::Wait:
                events = step.events;
                streamWants = true;
                continue;
            case Step::Error:
                break;
        }
        return Fail(m_readBroken, step.closed ? Failure::Closed : Failure::Io, std::move(step.text), error);
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

int SocketTransport::WaitForInput(const Deadline& deadline, int stopFd) {
    for (;;) {
        if (HasBufferedInput()) return 1;
        const int ready = WaitForFd(m_fd, POLLIN, deadline, stopFd);
        if (ready <= 0 || !ReadableMayHoldNoData()) return ready;
        // Take what arrived into the read-ahead buffer, without waiting: a
        // record without frame bytes means waiting on.
        std::string error;
        const IoStatus status = Buffer(1, Deadline::FromMillis(0), false, error);
        if (status != IoStatus::TimedOut) return 1;
    }
}

IoStatus SocketTransport::FailedMidFrame(IoStatus status, std::string& error) {
    if (status == IoStatus::TimedOut) m_readBroken = true;
    if (status == IoStatus::Failed && m_failure == Failure::Closed) error = "connection closed by the peer mid-frame";
    return status;
}

IoStatus SocketTransport::Receive(std::string& payload, const Deadline& deadline, size_t maxPayload,
                                  std::string& error, bool waitFirst) {
    if (m_fd < 0 || m_readBroken) return Fail(m_readBroken, Failure::Io, "connection is not usable", error);
    // Bytes of this frame already taken off the stream: a time-out after any
    // of them leaves the stream torn.
    const bool begun = ReadAheadHolds();
    IoStatus status = Buffer(kFrameHeaderBytes, deadline, waitFirst && !begun, error);
    if (status != IoStatus::Ok) return ReadAheadHolds() ? FailedMidFrame(status, error) : status;
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
