// tgtds of a benchmark's own: control ports no other tgtd uses, free
// loopback portals, and the hand-made side of a comparison (tgtadm runs as
// an operator types them). Root only. Everything started here is stopped
// here, and the socket files tgtd leaves behind are removed.
#pragma once

#include "backend/tgt/Process.h"
#include "support/TgtdProcess.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace zobench {

// A control port (below 32768) that no tgtd socket file names.
int FreeControlPort();
// A loopback TCP port free at the moment of the call.
int FreePortalPort();
using zotest::FindTgtd;
// SIGKILLs every tgtd on `controlPort`, waits for them to go and removes its
// socket files.
void KillTgtd(int controlPort);

// tgtadm on `controlPort` with `words` ("--mode", "target", ...).
zoscsi::tgt::ProcessResult Tgtadm(int controlPort, const std::vector<std::string>& words);
// LUNs (not counting LUN 0) that tgtd on `controlPort` exports.
int ExportedLuns(int controlPort);

class PrivateTgtd {
public:
    PrivateTgtd();  // picks the ports; starts nothing
    ~PrivateTgtd();
    PrivateTgtd(const PrivateTgtd&) = delete;
    PrivateTgtd& operator=(const PrivateTgtd&) = delete;

    // Starts tgtd and waits until it answers. False with the reason.
    bool Start(std::string& error);
    // What a crash leaves: tgtd gone, with every export.
    void KillHard();
    int control() const { return m_control; }
    std::string portal() const { return "127.0.0.1:" + std::to_string(m_portal); }

private:
    int m_control = 0;
    int m_portal = 0;
    std::string m_log;
    zoscsi::tgt::ChildProcess m_child;
};

}  // namespace zobench
