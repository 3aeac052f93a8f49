// TgtDaemon: the tgtd on the configured control port: finds it answering,
// or starts it (tgtd -f, a child of this process) when the configuration
// says so, and checks that it serves the configured portal.
//
// tgtd ignores SIGTERM; it is stopped with "--mode system --op delete"
// once it holds no targets, and killed only when that does not end it.
// A tgtd that cannot bind its portal falls back to the wildcard address on
// port 3260 and keeps running, so a started daemon that does not serve
// exactly the configured portal is stopped again and the start fails.
#pragma once

#include "backend/Backend.h"
#include "backend/tgt/Process.h"
#include "backend/tgt/TgtAdm.h"
#include "backend/tgt/TgtConfig.h"

#include <string>

namespace zoscsi::tgt {

class TgtDaemon {
public:
    TgtDaemon(const TgtConfig& config, const TgtAdm& adm, std::string logPath);

    // Answering and serving the portal, started first when configured. Once
    // that was found, later calls cost nothing until Recheck() (or the end
    // of a child started here).
    BackendStatus Ensure();
    // The next Ensure() asks tgtd again (after a request found it silent).
    void Recheck() { m_checked = false; }
    // Asks tgtd to exit (only when it holds no targets) and reaps a child
    // this object started. Returns what happened, for the log.
    std::string Shutdown();

    bool startedHere() const { return m_child.started(); }
    // tgtds started by this object so far: a new one holds nothing yet.
    unsigned launches() const { return m_launches; }

private:
    bool Answers(std::string& why) const;
    BackendStatus Launch();
    BackendStatus CheckPortal(bool ours);
    std::string LogTail() const;

    const TgtConfig& m_config;
    const TgtAdm& m_adm;
    std::string m_logPath;
    long m_logOffset = 0;
    bool m_checked = false;
    unsigned m_launches = 0;
    ChildProcess m_child;
};

}  // namespace zoscsi::tgt
