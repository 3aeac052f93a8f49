// TgtConfig: the tgt backend's keys of the [ZoScsiSrv] section
// (docs/SERVICE.md, "tgt backend").
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace zoscsi::tgt {

struct TgtConfig {
    std::string iqnPrefix = "iqn.2026-12.local.zo";  // TgtIqnPrefix
    std::string portalAddress = "127.0.0.1";         // TgtPortal (ADDR:PORT, "[v6]:PORT")
    int portalPort = 3260;
    int controlPort = 3260;                          // TgtControlPort: tgtd -C / tgtadm -C
    bool startDaemon = true;                         // TgtStartDaemon
    bool stopOnExit = false;                         // TgtStopOnExit: unexport and stop tgtd at shutdown
    std::string tgtadmPath = "/usr/sbin/tgtadm";     // TgtAdmPath
    std::string tgtdPath = "/usr/sbin/tgtd";         // TgtdPath
    std::chrono::milliseconds callLimit{10000};      // TgtCallTimeoutMs
    std::chrono::milliseconds startLimit{10000};     // TgtStartTimeoutMs
    // How LUN data is served (docs/TGT.md, "The data path"): the backing
    // store and its open flags of every LUN, and the I/O threads of each rdwr
    // LUN in a tgtd the service starts.
    std::string backingStore = "rdwr";               // TgtBackingStore: rdwr or aio
    std::string backingFlags;                        // TgtBackingStoreFlags: "", sync, direct, sync:direct
    int ioThreads = 1;                               // TgtIoThreads: tgtd --nr_iothreads
    // TgtRestoreWaitMs: how long a change waits for a restore; below
    // zoscsictl's default --timeout (120 s), so that a command gets the
    // busy answer rather than its own time-out.
    std::chrono::milliseconds restoreWait{100000};
    int parallelCalls = 8;                           // TgtParallelCalls: tgtadm runs at once in a restore
    std::string claimDir = "/run/lock/zoscsisrv-tgt";  // TgtClaimDir: host-wide claims of tgtd name spaces

    // "ADDR:PORT" as tgtd writes it ("[ADDR]:PORT" for IPv6).
    std::string Portal() const;
};

using SettingReader = std::function<bool(const std::string& key, std::string& value)>;

// Defaults for absent keys; false with a reason naming the key at fault.
bool LoadTgtConfig(const SettingReader& setting, TgtConfig& config, std::string& error);

}  // namespace zoscsi::tgt
