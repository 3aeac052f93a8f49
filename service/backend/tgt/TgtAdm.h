// TgtAdm: the one place that turns a tgtd request into tgtadm's argument
// vector, and runs it (Process.h: exec, never a shell, killed at its limit).
//
// Every value travels in the "--option=value" form, so no name, path or
// number can be read by tgtadm as an option of its own.
#pragma once

#include "backend/tgt/Process.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zoscsi::tgt {

// One request to tgtd. Only the fields its operation names are used.
struct TgtCommand {
    enum class Op {
        ShowTargets,       // --mode target --op show
        ShowPortals,       // --mode portal --op show
        NewTarget,         // tid, text = target name
        DeleteTarget,      // tid (always --force: sessions go with it)
        BindInitiator,     // tid, text = initiator name
        UnbindInitiator,   // tid, text = initiator name
        NewLun,            // tid, lun, text = backing file
        DeleteLun,         // tid, lun
        SetLunIdentity,    // tid, lun, text = serial (SCSI id and serial number)
        DeleteConnection,  // tid, sid, cid
        DeleteSystem,      // --mode system --op delete: tgtd exits
        ShowSystem,        // --mode system --op show: a short answer, whatever tgtd holds
    };
    Op op = Op::ShowTargets;
    int tid = 0;
    int lun = 0;
    std::string text;
    int64_t sid = 0;
    int cid = 0;

    bool operator==(const TgtCommand& other) const;

    // A command on target `tid` (and LUN `lun`) with `text`.
    static TgtCommand Of(Op op, int tid, int lun = 0, std::string text = {}) {
        TgtCommand command;
        command.op = op;
        command.tid = tid;
        command.lun = lun;
        command.text = std::move(text);
        return command;
    }
};

struct TgtAdmSettings {
    std::string path = "/usr/sbin/tgtadm";
    int controlPort = 0;
    std::chrono::milliseconds limit{10000};
};

// How every new logical unit serves its file.
struct BackingStore {
    std::string type = "rdwr";  // --bstype
    std::string flags;          // --bsoflags, none when empty
};

// The outcome of one call.
struct TgtAdmResult {
    bool ok = false;
    bool busy = false;   // tgtd said the target or logical unit is still active
    std::string out;     // standard output (the show operations' answer)
    std::string text;    // on failure: what was asked and tgtadm's message
    std::chrono::milliseconds elapsed{0};
};

class TgtAdm {
public:
    explicit TgtAdm(TgtAdmSettings settings, BackingStore store = {})
        : m_settings(std::move(settings)), m_store(std::move(store)) {}

    const TgtAdmSettings& settings() const { return m_settings; }

    // The full argument vector, argv[0] being the tgtadm path.
    std::vector<std::string> Argv(const TgtCommand& command) const;
    // A short human form of the request: its words without the program, the
    // control port and the backing-store settings (a failure's text has them).
    static std::string Describe(const TgtCommand& command);

    // Safe to call from several threads at once (tgtd takes requests from
    // several tgtadm processes; it serves them one after the other). Each
    // call is logged at the tracing level (2).
    TgtAdmResult Run(const TgtCommand& command) const;

    // Calls made and their summed time, for measurements.
    uint64_t calls() const { return m_calls.load(); }
    std::chrono::milliseconds spent() const { return std::chrono::milliseconds(m_spentMs.load()); }

private:
    TgtAdmSettings m_settings;
    BackingStore m_store;
    mutable std::atomic<uint64_t> m_calls{0};
    mutable std::atomic<int64_t> m_spentMs{0};
};

// tgtd in the foreground on `controlPort`, serving only `portal` ("ADDR:PORT"),
// with `ioThreads` I/O threads for each rdwr logical unit.
std::vector<std::string> TgtdArgv(const std::string& tgtdPath, int controlPort, const std::string& portal,
                                  int ioThreads);

}  // namespace zoscsi::tgt
