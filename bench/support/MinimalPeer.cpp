#include "support/MinimalPeer.h"

#include "support/PeerProcess.h"
#include "support/Samples.h"

#include "CNSession.h"
#include "ZoScsiSrvClient.h"
#include "zo/FrameCodec.h"
#include "zo/XmlCodec.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zobench {

namespace {

namespace S = CNSession::Wire;

bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) sent += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else return false;
    }
    return true;
}

std::string ValidateAnswerFrame() {
    CNSession::ValidateODSSessionResp answer;
    CNMessageBase* status = answer.getObjectAccessor(true, true, 2, 2, S::kValidateRespType, S::kValidateRespStatus,
                                                     S::kGroup, S::kStatusId);
    status->setint64(1, 1, 0, S::kStatusType, S::kStatusErrorNumber);
    status->setstring(2, 2, "", S::kStatusType, S::kStatusErrorText);
    std::string frame;
    AppendMessageFrame(answer, frame);
    return frame;
}

}  // namespace

void AppendMessageFrame(const CNMessageBase& message, std::string& out) {
    const size_t start = out.size();
    out.append(zo::kFrameHeaderBytes, '\0');
    zo::EncodeMessage(message, out);
    const auto length = static_cast<uint32_t>(out.size() - start - zo::kFrameHeaderBytes);
    out[start] = static_cast<char>(length >> 24);
    out[start + 1] = static_cast<char>(length >> 16);
    out[start + 2] = static_cast<char>(length >> 8);
    out[start + 3] = static_cast<char>(length);
}

MinimalPeer::MinimalPeer(const std::string& socketPath, Mode mode)
    : m_path(socketPath), m_mode(mode), m_validateFrame(ValidateAnswerFrame()) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long: " + m_path);
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0 || ::pipe2(m_stopPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot listen on " + m_path + ": " + std::strerror(errno));
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

MinimalPeer::~MinimalPeer() {
    (void)!::write(m_stopPipe[1], "x", 1);
    m_acceptThread.join();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (int fd : m_connections) ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& thread : m_threads) thread.join();
    for (int fd : m_connections) ::close(fd);
    ::close(m_listenFd);
    ::close(m_stopPipe[0]);
    ::close(m_stopPipe[1]);
    ::unlink(m_path.c_str());
}

void MinimalPeer::SetAnswer(std::unique_ptr<CNMessageBase> answer) { m_answer = std::move(answer); }

void MinimalPeer::SetAnswerFrame(std::string frame) { m_answerFrame = std::move(frame); }

std::string MinimalPeer::CapturedRequest() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_capturedRequest;
}

std::string MinimalPeer::CapturedAnswer() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_capturedAnswer;
}

void MinimalPeer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(m_lock);
        m_connections.push_back(fd);
        m_threads.emplace_back([this, fd] { Serve(fd); });
    }
}

const std::string& MinimalPeer::AnswerFor(const char* payload, size_t size, std::string& scratch) {
    if (m_mode == Mode::Raw) return m_answerFrame;
    std::string error;
    const std::unique_ptr<CNMessageBase> request = zo::DecodeMessage(payload, size, zo::DecodeLimits(), error);
    if (!request) {
        std::fprintf(stderr, "minimal peer: undecodable request: %s\n", error.c_str());
        std::abort();
    }
    if (request->Group() == S::kGroup && request->Id() == S::kValidateReqId) return m_validateFrame;
    if (!m_answer) return m_answerFrame;
    scratch.clear();
    AppendMessageFrame(*m_answer, scratch);
    return scratch;
}

void MinimalPeer::Serve(int fd) {
    // Bytes [begin, end) of `buffer` are read and not yet answered.
    std::vector<char> buffer(64u << 10);
    std::string scratch;
    size_t begin = 0;
    size_t end = 0;
    for (;;) {
        size_t need = zo::kFrameHeaderBytes;
        bool headerSeen = false;
        for (;;) {
            if (!headerSeen && end - begin >= zo::kFrameHeaderBytes) {
                headerSeen = true;
                need = zo::kFrameHeaderBytes + zo::FrameLength(buffer.data() + begin);
            }
            if (end - begin >= need) break;
            if (buffer.size() - begin < need) {  // make room: move the frame to the front
                std::memmove(buffer.data(), buffer.data() + begin, end - begin);
                end -= begin;
                begin = 0;
                if (buffer.size() < need) buffer.resize(need);
            }
            const ssize_t n = ::recv(fd, buffer.data() + end, buffer.size() - end, 0);
            if (n == 0 || (n < 0 && errno != EINTR)) return;
            if (n > 0) end += static_cast<size_t>(n);
        }
        if (m_delayNs > 0)
            for (const double start = NowNs(); NowNs() - start < m_delayNs;) {
            }
        const char* frame = buffer.data() + begin;
        const std::string& answer = AnswerFor(frame + zo::kFrameHeaderBytes, need - zo::kFrameHeaderBytes, scratch);
        if (!m_captured.load(std::memory_order_relaxed) && &answer != &m_validateFrame) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_capturedRequest.assign(frame, need);
            m_capturedAnswer = answer;
            m_captured = true;
            if (!m_captureFile.empty()) WriteFileAtomically(m_captureFile, m_capturedRequest);
        }
        if (!SendAll(fd, answer)) return;
        begin += need;
        if (begin == end) begin = end = 0;
    }
}

CYbError AttachClient(ZoScsiSrvClient& client, const std::string& endpoint, const std::string& clientName,
                      const std::string& sessionId) {
    setenv("ZO_SERVICE_ZoScsiSrv", endpoint.c_str(), 1);
    setenv("ZO_SERVICE_ZoScsiSrv_SESSION", sessionId.c_str(), 1);
    CYbError error = client.Initialize(clientName, "bench", 0);
    unsetenv("ZO_SERVICE_ZoScsiSrv");
    unsetenv("ZO_SERVICE_ZoScsiSrv_SESSION");
    return error;
}

}  // namespace zobench
