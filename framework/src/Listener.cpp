#include "zo/ServiceListener.h"

#include "FXErrorUtil.h"
#include "ListenSocket.h"
#include "ListenerSession.h"
#include "SocketTransport.h"
#include "TlsTransport.h"
#include "zo/LaunchContext.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <list>
#include <map>
#include <mutex>
#include <thread>

namespace zo {

namespace {

constexpr const char* kFile = "ServiceListener";
constexpr const char* kStartFunction = "CYbError zo::ServiceListener::Start()";
// Pause after accept fails for want of descriptors or memory, so the loop
// does not spin while the condition lasts.
constexpr auto kAcceptBackoff = std::chrono::milliseconds(50);

bool MakePipe(int fds[2]) { return ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0; }

void ClosePipe(int fds[2]) {
    for (int i = 0; i < 2; ++i) {
        if (fds[i] >= 0) ::close(fds[i]);
        fds[i] = -1;
    }
}

void Poke(int fd) {
    const char byte = 0;
    if (fd >= 0) {
        // A full pipe is already readable, which is all a poke has to achieve.
        ssize_t ignored = ::write(fd, &byte, 1);
        (void)ignored;
    }
}

void Drain(int fd) {
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

struct Connection {
    int fd = -1;             // guarded by Impl::mutex; closed by the serving thread
    bool done = false;       // guarded by Impl::mutex
    bool validated = false;  // guarded by Impl::mutex: holds a validated slot, not a pending one
    std::string peerKey;     // whose pending slots it counts against
    std::thread thread;      // touched by the accepting thread only
};

// Pending slots are counted per address; on a unix socket, where every
// address is the same, per user.
std::string PeerKey(const PeerInfo& peer, bool unixSocket) {
    return unixSocket ? "uid " + std::to_string(peer.uid) : peer.host;
}

}  // namespace

struct ServiceListener::Impl {
    ListenerOptions options;
    RequestHandler handler;
    ListenSocket socket;
    std::shared_ptr<TlsContext> tls;  // for a tls: endpoint
    bool started = false;
    // The stop pipe is never drained: once written it stays readable, which
    // wakes the accept loop and every connection thread alike.
    int stopPipe[2] = {-1, -1};
    int wakePipe[2] = {-1, -1};  // a connection thread ended
    std::atomic<bool> stopRequested{false};
    std::atomic<int> active{0};
    std::atomic<long> served{0};
    std::atomic<long> refusedPending{0};
    std::mutex mutex;
    std::list<std::unique_ptr<Connection>> connections;
    int pending = 0;                           // guarded by mutex
    int validated = 0;                         // guarded by mutex
    std::map<std::string, int> pendingByPeer;  // guarded by mutex; no zero counts

    void Serve(Connection* connection, PeerInfo peer, Deadline presentBy);
    // Takes a pending slot for a new connection; false when none is free.
    bool TakePendingSlot(Connection* connection);
    // Moves a connection from its pending slot to a validated one; false
    // (and the pending slot kept) when every validated slot is taken.
    bool Admit(Connection* connection);
    void ReleaseSlot(Connection* connection);  // mutex held
    void ReleasePending(const std::string& key);  // mutex held
    void AcceptWaiting();
    void ReapFinished();
    void ShutdownAll();
    void JoinAll();
    void SignalReady();
};

void ServiceListener::Impl::Serve(Connection* connection, PeerInfo peer, Deadline presentBy) {
    std::unique_ptr<SocketTransport> transport;
    if (tls) transport = std::make_unique<TlsTransport>(connection->fd, tls);
    else transport = std::make_unique<SocketTransport>(connection->fd);
    const SessionContext context{options, handler, stopPipe[0], served, presentBy,
                                 [this, connection] { return Admit(connection); }};
    ServeConnection(*transport, peer, context);
    {
        std::lock_guard<std::mutex> lock(mutex);
        transport->Close();
        connection->fd = -1;
        connection->done = true;
        ReleaseSlot(connection);
    }
    --active;
    Poke(wakePipe[1]);
}

bool ServiceListener::Impl::TakePendingSlot(Connection* connection) {
    std::lock_guard<std::mutex> lock(mutex);
    if (pending >= options.maxPending) return false;
    const auto found = pendingByPeer.find(connection->peerKey);
    if (found != pendingByPeer.end() && found->second >= options.maxPendingPerPeer) return false;
    ++pending;
    ++pendingByPeer[connection->peerKey];
    return true;
}

bool ServiceListener::Impl::Admit(Connection* connection) {
    std::lock_guard<std::mutex> lock(mutex);
    if (connection->validated) return true;
    if (validated >= options.maxConnections) return false;
    ReleasePending(connection->peerKey);
    ++validated;
    connection->validated = true;
    return true;
}

void ServiceListener::Impl::ReleasePending(const std::string& key) {
    --pending;
    const auto found = pendingByPeer.find(key);
    if (found != pendingByPeer.end() && --found->second <= 0) pendingByPeer.erase(found);
}

void ServiceListener::Impl::ReleaseSlot(Connection* connection) {
    if (connection->validated) --validated;
    else ReleasePending(connection->peerKey);
}

void ServiceListener::Impl::AcceptWaiting() {
    for (;;) {
        PeerInfo peer;
        const int fd = socket.Accept(peer);
        if (fd < 0) {
            const int code = errno;
            if (code == EINTR || code == ECONNABORTED) continue;
            if (code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM)
                std::this_thread::sleep_for(kAcceptBackoff);
            return;  // nothing more waiting (EAGAIN), or a failure to retry on the next wake-up
        }
        // Refused connections are closed before a byte is read from them.
        if (socket.IsUnix() && !ListenSocket::UnixPeerAllowed(peer)) {
            ::close(fd);
            continue;
        }
        // The presentation deadline runs from the accept, the TLS handshake included.
        const Deadline presentBy(std::min(options.sessionDeadlineSec, options.frameDeadlineSec));
        auto owned = std::make_unique<Connection>();
        Connection* connection = owned.get();
        connection->fd = fd;
        connection->peerKey = PeerKey(peer, socket.IsUnix());
        if (!TakePendingSlot(connection)) {
            ::close(fd);  // never queued: a stranger beyond the pending slots waits for nothing
            ++refusedPending;
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            connections.push_back(std::move(owned));
        }
        ++active;
        try {
            connection->thread = std::thread(&Impl::Serve, this, connection, peer, presentBy);
        } catch (const std::system_error&) {
            --active;
            std::lock_guard<std::mutex> lock(mutex);
            ::close(connection->fd);
            ReleaseSlot(connection);
            connections.remove_if([connection](const std::unique_ptr<Connection>& c) { return c.get() == connection; });
        }
    }
}

void ServiceListener::Impl::ReapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->done) {
                finished.push_back(std::move(*it));
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& connection : finished) connection->thread.join();
}

void ServiceListener::Impl::ShutdownAll() {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& connection : connections)
        if (connection->fd >= 0) ::shutdown(connection->fd, SHUT_RDWR);
}

void ServiceListener::Impl::JoinAll() {
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard<std::mutex> lock(mutex);
        all.swap(connections);
    }
    for (auto& connection : all)
        if (connection->thread.joinable()) connection->thread.join();
}

void ServiceListener::Impl::SignalReady() {
    if (!options.readyFile.empty()) {
        const int fd = ::open(options.readyFile.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) ::close(fd);
    }
    ReportReady(options.readyFd);
}

ServiceListener::ServiceListener(ListenerOptions options, RequestHandler handler) : m_impl(std::make_unique<Impl>()) {
    m_impl->options = std::move(options);
    m_impl->handler = std::move(handler);
    if (!MakePipe(m_impl->stopPipe)) ClosePipe(m_impl->stopPipe);
    if (!MakePipe(m_impl->wakePipe)) ClosePipe(m_impl->wakePipe);
}

ServiceListener::~ServiceListener() {
    Stop();
    m_impl->ShutdownAll();
    m_impl->JoinAll();
    m_impl->socket.Close();
    ClosePipe(m_impl->stopPipe);
    ClosePipe(m_impl->wakePipe);
}

CYbError ServiceListener::Start() {
    Impl& impl = *m_impl;
    if (impl.stopPipe[0] < 0 || impl.wakePipe[0] < 0)
        return FXErrorUtil::Make(FXCodeLocation(kFile, kStartFunction, __LINE__), FXErrorSpace::ErrNo, EMFILE,
                                 "cannot create the listener's wake-up pipes");
    if (!impl.handler)
        return FXErrorUtil::Make(FXCodeLocation(kFile, kStartFunction, __LINE__), FXErrorSpace::ErrNo, EINVAL,
                                 "listener has no request handler");
    std::string error;
    if (impl.options.endpoint.rfind("tls:", 0) == 0) {
        impl.tls = TlsContext::ForServer(impl.options.tls, error);
        if (!impl.tls)
            return FXErrorUtil::Make(FXCodeLocation(kFile, kStartFunction, __LINE__), FXErrorSpace::ErrNo, EINVAL,
                                     "TLS: " + error);
    }
    if (!impl.options.allowPlainTcp && !ListenSocket::PlainTcpAllowed(impl.options.endpoint, error))
        return FXErrorUtil::Make(FXCodeLocation(kFile, kStartFunction, __LINE__), FXErrorSpace::ErrNo, EACCES,
                                 error);
    if (!impl.socket.Open(impl.options.endpoint, error))
        return FXErrorUtil::Make(FXCodeLocation(kFile, kStartFunction, __LINE__), FXErrorSpace::ErrNo, EADDRINUSE,
                                 error);
    impl.started = true;
    impl.SignalReady();
    return CYbError::Success();
}

void ServiceListener::Run() {
    Impl& impl = *m_impl;
    if (!impl.started) return;
    using Clock = std::chrono::steady_clock;
    const auto idleLimit = std::chrono::seconds(impl.options.idleExitSec);
    auto idleSince = Clock::now();
    const bool beats = impl.options.heartbeatMillis > 0 && impl.options.heartbeat;
    const auto beatEvery = std::chrono::milliseconds(impl.options.heartbeatMillis);
    auto nextBeat = Clock::now();
    while (!impl.stopRequested.load()) {
        int waitMillis = -1;
        if (beats) {
            const auto now = Clock::now();
            if (now >= nextBeat) {
                impl.options.heartbeat();
                nextBeat = now + beatEvery;
            }
            waitMillis = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(nextBeat - now).count());
        }
        if (impl.options.idleExitSec > 0 && impl.active.load() == 0) {
            const auto left = idleSince + idleLimit - Clock::now();
            if (left <= Clock::duration::zero()) break;
            const int idleMillis = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
            waitMillis = waitMillis < 0 ? idleMillis : std::min(waitMillis, idleMillis);
        }
        pollfd fds[3] = {{impl.socket.Fd(), POLLIN, 0}, {impl.stopPipe[0], POLLIN, 0}, {impl.wakePipe[0], POLLIN, 0}};
        const int ready = ::poll(fds, 3, waitMillis);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        if (fds[1].revents != 0) break;
        if (fds[2].revents != 0) {
            Drain(impl.wakePipe[0]);
            impl.ReapFinished();
            if (impl.active.load() == 0) idleSince = Clock::now();
        }
        if (fds[0].revents != 0) impl.AcceptWaiting();
    }
    impl.ShutdownAll();
    impl.JoinAll();
}

void ServiceListener::Stop() {
    // Only a lock-free store and write(2): safe in a signal handler.
    m_impl->stopRequested.store(true);
    Poke(m_impl->stopPipe[1]);
}

std::string ServiceListener::BoundEndpoint() const { return m_impl->socket.BoundEndpoint(); }

int ServiceListener::ActiveConnections() const { return m_impl->active.load(); }

int ServiceListener::PendingConnections() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->pending;
}

long ServiceListener::RefusedPending() const { return m_impl->refusedPending.load(); }

long ServiceListener::ServedRequests() const { return m_impl->served.load(); }

}  // namespace zo
