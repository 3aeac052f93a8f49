// The progress line: shown only after its delay, erased when the wait ends,
// never written when disabled.
#include "Progress.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using namespace std::chrono_literals;
using zoctl::ProgressLine;

class Progress : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(m_fds), 0);
        fcntl(m_fds[0], F_SETFL, O_NONBLOCK);
    }
    void TearDown() override {
        close(m_fds[0]);
        close(m_fds[1]);
    }

    // What was written so far, waiting up to `wait` for `expected` to appear.
    std::string ReadUntil(const std::string& expected, std::chrono::milliseconds wait) {
        const auto until = std::chrono::steady_clock::now() + wait;
        while (m_read.find(expected) == std::string::npos && std::chrono::steady_clock::now() < until) {
            pollfd p{m_fds[0], POLLIN, 0};
            poll(&p, 1, 50);
            char buffer[256];
            ssize_t n;
            while ((n = read(m_fds[0], buffer, sizeof buffer)) > 0) m_read.append(buffer, static_cast<size_t>(n));
        }
        return m_read;
    }

    ProgressLine::Options Options(bool enabled, std::chrono::milliseconds delay) {
        return ProgressLine::Options{m_fds[1], enabled, delay, 50ms};
    }

    int m_fds[2] = {-1, -1};
    std::string m_read;
};

TEST_F(Progress, ALongWaitIsShownAndErasedWhenItEnds) {
    ProgressLine progress(Options(true, 20ms));
    progress.Begin("launching ZoScsiSrv for client node1");
    EXPECT_NE(ReadUntil("launching", 10s).find("\r\033[Kzoscsictl: launching ZoScsiSrv for client node1 ... 0s"),
              std::string::npos)
        << m_read;
    progress.End();
    const std::string all = ReadUntil("\r\033[K\r\033[K", 100ms);
    EXPECT_EQ(all.substr(all.size() - 4), "\r\033[K") << "the last thing written erases the line";
}

TEST_F(Progress, AShortWaitOrADisabledLineWritesNothing) {
    {
        ProgressLine shortWait(Options(true, 10s));
        shortWait.Begin("waiting for the service (ls)");
        shortWait.End();
        ProgressLine disabled(Options(false, 0ms));
        disabled.Begin("waiting for the service (ls)");
        disabled.Erase();
    }
    EXPECT_EQ(ReadUntil("zoscsictl", 200ms), "");
}

}  // namespace
