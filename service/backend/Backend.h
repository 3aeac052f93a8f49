// Backend: what makes the inventory real on a fabric.
//
// The inventory (SQLite) is the source of truth; a backend only mirrors it.
// Each mutation runs inside the inventory's transaction: the records are
// written, the backend is asked to carry the change out, and only when it
// succeeds is the transaction committed (a refusal rolls it back, so the
// inventory never holds what the fabric refused). Start and Resync bring the
// fabric in line with a whole snapshot, which mends anything a crash between
// a backend call and its commit left behind.
//
// Calls are serialised by the service (one mutation at a time, and Start,
// Resync, Committed and Stop under the same lock); a backend must answer
// every call within its own time limits and never hang. Listings reach a
// backend only through ExportOf, which is read-only and runs alongside
// everything else; AwaitReady and State may be called at any time too.
// A backend is made by name through MakeBackend (BackendFactory.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zoscsi {

struct TargetRecord {
    std::string name;    // validated, lower case
    std::string params;  // as the client sent it (may be empty)
    int64_t created = 0;
};

struct LunRecord {
    std::string target;
    int32_t id = 0;          // 1..kMaxLunId, lowest free in its target at creation
    std::string name;        // the service's name for the LUN: "<target>:lun<id>"
    uint64_t sizeBytes = 0;
    uint32_t setting = 0;    // the client's lunSetting, kept as given
    std::string options;     // the option text it was created with
    bool open = true;        // false after a close: not exported, data kept
    int64_t created = 0;     // seconds since the epoch
};

struct MappingRecord {
    std::string target;
    int32_t lun = 0;
    std::string host;  // initiator name, as sent
};

struct InventorySnapshot {
    std::vector<TargetRecord> targets;
    std::vector<LunRecord> luns;
    std::vector<MappingRecord> mappings;
};

// Outcome of a backend call: ok, or a failure with the backend's own text,
// answered to the client with the backend-failure error number, or with
// `number` (a ZoScsiServer error number) for a refusal made before the
// backend changed anything, such as a limit of the fabric.
struct BackendStatus {
    bool ok = true;
    std::string text;
    int number = 0;

    static BackendStatus Ok() { return {}; }
    static BackendStatus Fail(std::string why) { return {false, std::move(why)}; }
    static BackendStatus Refuse(int number, std::string why) { return {false, std::move(why), number}; }
};

// What a backend learns about its instance when it is made.
struct BackendContext {
    std::string clientName;  // the client name this instance serves
    std::string dataDir;     // STATE/<client>: the backend may keep its files here (0700)
    // Reads a key of the [ZoScsiSrv] configuration section; false when absent.
    std::function<bool(const std::string& key, std::string& value)> setting;
};

class Backend {
public:
    virtual ~Backend() = default;

    virtual const char* Name() const = 0;

    // Brings the fabric up for `fabric` (1: iSCSI) and in line with `inventory`.
    // Called when the service starts (before it listens) and again for every
    // StartScsiService request, so it must be idempotent. Until a Start has
    // succeeded the service calls it again before the next mutation. A
    // backend may leave a long part of the work running when it returns
    // (see AwaitReady); the changes that follow wait for it themselves.
    virtual BackendStatus Start(uint32_t fabric, const InventorySnapshot& inventory) = 0;
    // Brings a running fabric in line with `inventory` again (reload).
    virtual BackendStatus Resync(const InventorySnapshot& inventory) = 0;

    // Waits, up to a bound of the backend's own, for the work a Start or
    // Resync left running: Ok once there is none and the fabric is in line;
    // Busy with how far it has come while it still runs; a failure when it
    // ended without bringing the fabric in line (the next change tries again).
    virtual BackendStatus AwaitReady() { return BackendStatus::Ok(); }
    // One line for the status: "ready", or what runs ("restoring exports: N of M done").
    virtual std::string State() const { return "ready"; }
    // The inventory has committed the changes made since the last call; data
    // kept only so that an uncommitted change could be undone can go now.
    virtual void Committed() {}

    virtual BackendStatus CreateTarget(const TargetRecord& target) = 0;
    virtual BackendStatus DeleteTarget(const TargetRecord& target) = 0;
    // Allocates the LUN's data and exports it (the record says open).
    virtual BackendStatus CreateLun(const LunRecord& lun) = 0;
    // Exports a closed LUN again, with its data.
    virtual BackendStatus OpenLun(const LunRecord& lun) = 0;
    // Stops exporting; the data stays.
    virtual BackendStatus CloseLun(const LunRecord& lun) = 0;
    // Stops exporting and removes the data.
    virtual BackendStatus DeleteLun(const LunRecord& lun) = 0;
    // `hostsAfter`: every host the LUN is mapped to once the change is made.
    virtual BackendStatus MapHost(const LunRecord& lun, const std::string& host,
                                  const std::vector<std::string>& hostsAfter) = 0;
    virtual BackendStatus UnmapHost(const LunRecord& lun, const std::string& host,
                                    const std::vector<std::string>& hostsAfter) = 0;

    // Called once at shutdown.
    virtual void Stop() = 0;

    // For the detailed listing: where `host` reaches `lun` on the fabric when
    // the backend has exported it there (tgt: the target IQN), else empty. An
    // empty `host` asks about an unmapped LUN. Called by listings on their own
    // threads, alongside the calls above: it answers from the record and the
    // backend's own settings only, never by asking the fabric or reading
    // state that the calls above change. A backend without exports keeps
    // this default.
    virtual std::string ExportOf(const LunRecord& lun, const std::string& host) const {
        (void)lun;
        (void)host;
        return std::string();
    }
};

}  // namespace zoscsi
