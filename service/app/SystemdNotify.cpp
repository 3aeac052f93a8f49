#include "app/SystemdNotify.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>

namespace zoscsi {
namespace {

// A status is one line of the notification message: a line break in it
// would start another assignment.
std::string OneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

}  // namespace

SystemdNotify::SystemdNotify(bool launchedOnDemand) {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    m_active = !launchedOnDemand && socket != nullptr && *socket != '\0';
    if (!m_active) return;
    // Zero when WATCHDOG_USEC is unset or names another process
    // (WATCHDOG_PID); a watchdog time under 2 ms still gets a 1 ms beat.
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        const uint64_t half = usec / 2000;
        m_keepAliveMillis = half == 0 ? 1 : half > 3600000 ? 3600000 : static_cast<int>(half);
    }
}

void SystemdNotify::Send(const std::string& state) const {
    if (m_active) sd_notify(0, state.c_str());
}

void SystemdNotify::Ready(const std::string& status) const { Send("READY=1\nSTATUS=" + OneLine(status)); }

void SystemdNotify::KeepAlive() const { Send("WATCHDOG=1"); }

void SystemdNotify::Stopping(const std::string& status) const { Send("STOPPING=1\nSTATUS=" + OneLine(status)); }

}  // namespace zoscsi
