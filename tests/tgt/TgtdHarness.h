// TgtdHarness: a private tgtd for one test run, on a control port and a
// loopback portal nobody else uses, and the initiator's tools run without a
// shell. Only the tgtd a harness started is ever stopped or killed.
#pragma once

#include "backend/tgt/Process.h"
#include "support/LoopbackPort.h"
#include "support/TgtdProcess.h"

#include <string>
#include <vector>

class TgtdHarness {
public:
    ~TgtdHarness();

    // Why end-to-end cases cannot run here ("" when they can).
    static std::string SkipReason();

    // Picks a free control port and portal (nothing started).
    void PickPorts(int attempt = 0);
    // Picks them and starts tgtd there.
    bool Start(std::string& error);
    // Starts tgtd again on the same ports (after KillHard).
    bool Restart(std::string& error);
    // SIGKILL: what a crash leaves (its targets are gone with it).
    void KillHard();
    // Deletes every target and asks tgtd to exit; kills it if it does not.
    void Stop();

    int controlPort() const { return m_controlPort; }
    int portalPort() const { return m_portalPort; }
    std::string portal() const { return "127.0.0.1:" + std::to_string(m_portalPort); }
    std::string url() const { return "iscsi://" + portal(); }
    const std::string& logPath() const { return m_log; }

private:
    bool Launch(std::string& error);

    // The pid of a tgtd serving our control port that is not our child (a backend's).
public:
    pid_t FindOtherTgtd() const;
    // Removes the socket files of our control port when no tgtd serves it.
    void RemoveSockets() const;

private:
    int m_controlPort = 0;
    int m_portalPort = 0;
    std::string m_log;
    zoscsi::tgt::ChildProcess m_child;
};

using zotest::FreeLoopbackPort;

// Runs a program (no shell) within 30 s.
zoscsi::tgt::ProcessResult RunTool(const std::vector<std::string>& argv);

// iscsi-ls -s as `initiator`: the lines it prints.
std::string Discover(const std::string& initiator, const std::string& url);
// iscsi-readcapacity16's "Total size", or -1 when it cannot log in.
long long CapacityBytes(const std::string& initiator, const std::string& lunUrl);
