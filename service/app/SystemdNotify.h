// SystemdNotify: what the service tells systemd when a Type=notify unit
// runs it. Every call into libsystemd is in SystemdNotify.cpp.
//
// Active only when systemd asked for it (NOTIFY_SOCKET is set) and the
// service runs by hand or under the unit: an instance launched on demand
// reports readiness through its launcher's pipe, and a NOTIFY_SOCKET it
// inherited from its launching program is not its own to write to.
#pragma once

#include <string>

namespace zoscsi {

class SystemdNotify {
public:
    // Reads NOTIFY_SOCKET and the watchdog settings of this process.
    explicit SystemdNotify(bool launchedOnDemand);

    bool Active() const { return m_active; }

    // Milliseconds between watchdog keep-alives (half of WATCHDOG_USEC, so
    // that one late keep-alive is not yet a miss); 0 when systemd watches
    // nothing.
    int KeepAliveMillis() const { return m_keepAliveMillis; }

    // "READY=1" with a status line for `systemctl status`.
    void Ready(const std::string& status) const;
    // "WATCHDOG=1": the serving loop is alive.
    void KeepAlive() const;
    // "STOPPING=1" with a status line.
    void Stopping(const std::string& status) const;

private:
    void Send(const std::string& state) const;

    bool m_active = false;
    int m_keepAliveMillis = 0;
};

}  // namespace zoscsi
