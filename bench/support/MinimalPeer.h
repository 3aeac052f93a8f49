// A minimal peer on a unix socket: one thread per connection, blocking
// reads, one answer per frame. It stands for "the other side" at its
// cheapest, so that what a benchmark adds on top of it is ours.
//
//   Raw     answers every frame with a fixed frame and never looks inside
//           (after a set busy wait, when one is given).
//   Decode  decodes every frame (zo::DecodeMessage), accepts any session
//           validation, and answers every other request with the canned
//           answer, encoded anew for each request (or sent as fixed bytes
//           when the answer was given as a frame).
#pragma once

#include "CNMessageBase.h"
#include "CYbError.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ZoScsiSrvClient;

namespace zobench {

class MinimalPeer {
public:
    enum class Mode { Raw, Decode };

    // Listens on `socketPath` (an absent file). Throws std::runtime_error.
    MinimalPeer(const std::string& socketPath, Mode mode);
    ~MinimalPeer();  // closes every connection and joins the threads
    MinimalPeer(const MinimalPeer&) = delete;
    MinimalPeer& operator=(const MinimalPeer&) = delete;

    std::string Endpoint() const { return "unix:" + m_path; }
    const std::string& SocketPath() const { return m_path; }

    // The answer, encoded for each request (Decode mode). Set before use.
    void SetAnswer(std::unique_ptr<CNMessageBase> answer);
    // The answer as fixed bytes (header included). Set before use.
    void SetAnswerFrame(std::string frame);
    // Raw mode: spins this long before each answer, as a peer that does work
    // for each request but none of it on the bytes.
    void SetAnswerDelay(double nanoseconds) { m_delayNs = nanoseconds; }

    // The first request frame that was not a session validation, and the
    // frame that answered it (both with their headers); empty until then.
    std::string CapturedRequest() const;
    std::string CapturedAnswer() const;
    // Also writes the captured request frame to `path` (for a peer in another
    // process than its benchmark). Set before use.
    void SetCaptureFile(const std::string& path) { m_captureFile = path; }

private:
    void AcceptLoop();
    void Serve(int fd);
    const std::string& AnswerFor(const char* payload, size_t size, std::string& scratch);

    std::string m_path;
    Mode m_mode;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    std::unique_ptr<CNMessageBase> m_answer;
    std::string m_answerFrame;
    std::string m_validateFrame;
    std::atomic<double> m_delayNs{0};

    mutable std::mutex m_lock;
    std::vector<int> m_connections;
    std::vector<std::thread> m_threads;
    std::thread m_acceptThread;
    std::atomic<bool> m_captured{false};
    std::string m_capturedRequest;
    std::string m_capturedAnswer;
    std::string m_captureFile;
};

// Appends the frame of `message` (length header and XML) to `out`.
void AppendMessageFrame(const CNMessageBase& message, std::string& out);

// Has `client` attach to the service at `endpoint` (unix:PATH) as `clientName`
// through the launcher's registry entry for a running service.
CYbError AttachClient(ZoScsiSrvClient& client, const std::string& endpoint, const std::string& clientName,
                      const std::string& sessionId = "bench-session");

}  // namespace zobench
