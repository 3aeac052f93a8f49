// The baseline client: a blocking unix socket that writes a frame's bytes and
// reads one answer frame into a reused buffer, and nothing else.
#pragma once

#include <string>
#include <vector>

namespace zobench {

class RawClient {
public:
    // Connects to `socketPath`. Throws std::runtime_error.
    explicit RawClient(const std::string& socketPath);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // Writes `request` (a whole frame) and reads the answer frame; returns its
    // size with the header. Aborts the program when the peer goes away.
    size_t RoundTrip(const std::string& request);
    const char* Answer() const { return m_buffer.data(); }

private:
    int m_fd = -1;
    std::vector<char> m_buffer;
};

}  // namespace zobench
