#include "inventory/Inventory.h"

#include "common/Names.h"
#include "common/ServiceLog.h"
#include "inventory/ListingLine.h"

#include <algorithm>
#include <ctime>

namespace zoscsi {

using ZoScsiServer::kErrBackend;
using ZoScsiServer::kErrInventory;

constexpr int64_t kMaxTargets = 4096;

class Inventory::BackendCall {
public:
    explicit BackendCall(Backend& backend) : m_backend(backend) {}

    // `what` completes "backend X refused to ...".
    template <class Call>
    ServiceStatus operator()(const std::string& what, Call&& call) {
        const bool before = m_mutated;
        m_mutated = true;
        ServiceStatus status = Run(what, std::forward<Call>(call));
        // A refusal with a number of its own came before the backend changed
        // anything: nothing to bring back in line for it.
        if (!status.ok() && status.number != kErrBackend) m_mutated = before;
        return status;
    }

    // The same for Start and Resync, which change nothing to mend afterwards.
    template <class Call>
    ServiceStatus Run(const std::string& what, Call&& call) {
        BackendStatus status;
        try {
            status = call(m_backend);
        } catch (const std::exception& error) {
            status = BackendStatus::Fail(std::string("failed with an exception: ") + error.what());
        } catch (...) {
            status = BackendStatus::Fail("failed with an exception");
        }
        if (status.ok) return ServiceStatus::Ok();
        return ServiceStatus::Fail(status.number ? status.number : kErrBackend,
                                   std::string("backend ") + m_backend.Name() + " refused to " + what + ": " + status.text);
    }

    bool mutated() const { return m_mutated; }

private:
    Backend& m_backend;
    bool m_mutated = false;
};

namespace {

std::string LunText(const std::string& target, int64_t id) {
    return "LUN " + std::to_string(id) + " of target " + target;
}

// Finds the LUN or says which of target and LUN is missing.
ServiceStatus FindLun(InventoryQueries& queries, const std::string& target, int64_t id, LunRecord& lun) {
    std::optional<LunRecord> found = queries.FindLun(target, static_cast<int32_t>(id));
    if (found) {
        lun = *found;
        return ServiceStatus::Ok();
    }
    if (!queries.FindTarget(target)) return NotFound("target " + target + " does not exist");
    return NotFound(LunText(target, id) + " does not exist");
}

// Validates a target name and a LUN id together.
ServiceStatus CheckLun(const std::string& target, int64_t id) {
    ServiceStatus status = CheckTargetName(target);
    return status.ok() ? CheckLunId(id) : status;
}

// What mapping `host` adds to the listing: its line, which takes the place of
// the LUN's unmapped line when it is the LUN's only host.
ListingSize MappingLines(const LunRecord& lun, const std::string& host, bool onlyHost) {
    ListingSize change = ListingSize::Of(ListingLine(lun.target, host, lun.id, lun.created));
    if (onlyHost) change += -ListingSize::Of(ListingLine(lun.target, "", lun.id, lun.created));
    return change;
}

// A host filter must be a name that could have been mapped.
ServiceStatus CheckFilter(const LunFilter& filter) {
    return filter.host.empty() ? ServiceStatus::Ok() : CheckHostName(filter.host);
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + Quote(name);
    return text;
}

}  // namespace

Inventory::Inventory(InventoryStore& store, Backend& backend, Clock clock, ListingLimits limits)
    : m_store(store), m_backend(backend), m_clock(std::move(clock)), m_limits(limits) {
    m_store.SetCommitHook([this] {
        try {
            m_backend.Committed();
        } catch (const std::exception& error) {
            ServiceLog(-1, "Inventory", std::string("backend after a commit: ") + error.what());
        } catch (...) {
            ServiceLog(-1, "Inventory", "backend after a commit: an exception");
        }
    });
}

Inventory::~Inventory() { m_store.SetCommitHook(nullptr); }

ServiceStatus Inventory::AwaitBackend(const char* what) {
    BackendCall backend(m_backend);
    return backend.Run(what, [](Backend& b) { return b.AwaitReady(); });
}

int64_t Inventory::Now() const { return m_clock ? m_clock() : static_cast<int64_t>(std::time(nullptr)); }

ServiceStatus Inventory::StartLocked(uint32_t fabric, InventoryQueries& queries, BackendCall& backend) {
    const InventorySnapshot snapshot = queries.Snapshot();
    ServiceStatus status =
        backend.Run("start", [&](Backend& b) { return b.Start(fabric, snapshot); });
    if (status.ok()) m_started = true;
    return status;
}

ServiceStatus Inventory::GrowListing(InventoryQueries& queries, const ListingSize& change, const std::string& what) {
    const ListingSize now = queries.FullListingSize();
    const int64_t lines = now.lines + change.lines;
    const int64_t bytes = now.bytes + change.bytes;
    if (change.lines > 0 && lines > m_limits.maxLines)
        return LimitReached(what + " would bring the full listing to " + std::to_string(lines) +
                            " lines, above its limit of " + std::to_string(m_limits.maxLines) +
                            "; unmap or delete LUNs first");
    if (change.bytes > 0 && bytes > m_limits.maxBytes)
        return LimitReached(what + " would bring the full listing to " + std::to_string(bytes) +
                            " bytes, above its limit of " + std::to_string(m_limits.maxBytes) +
                            " (one answer); unmap or delete LUNs first");
    queries.AddToFullListingSize(change);
    return ServiceStatus::Ok();
}

ServiceStatus Inventory::Mutate(const char* what, const Mutation& mutation) {
    // A change waits for a restore here, outside the write, so that waiting
    // callers do not queue behind each other; a failed restore is tried
    // again by the change itself.
    const ServiceStatus ready = AwaitBackend(what);
    if (ready.number == ZoScsiServer::kErrBusy) return ready;
    BackendCall backend(m_backend);
    ServiceStatus status;
    try {
        status = m_store.Write([&](InventoryQueries& queries) {
            if (!m_started) {
                ServiceStatus started = StartLocked(ZoScsiServer::ISCSI, queries, backend);
                if (!started.ok()) return started;
            }
            return mutation(queries, backend);
        });
    } catch (const std::exception& error) {
        status = ServiceStatus::Fail(kErrInventory, std::string("inventory failure while trying to ") + what + ": " +
                                                        error.what());
        ServiceLog(-1, "Inventory::Mutate", status.text);
    }
    if (!status.ok() && backend.mutated()) {
        // The records were rolled back; the fabric may hold part of the change.
        const ServiceStatus mended = Resync();
        if (!mended.ok()) ServiceLog(-1, "Inventory::Mutate", "resync after a failed " + std::string(what) + ": " + mended.text);
    }
    return status;
}

ServiceStatus Inventory::ReadOnly(const char* what, const InventoryStore::Body& body) {
    try {
        return m_store.Read(body);
    } catch (const std::exception& error) {
        ServiceStatus status = ServiceStatus::Fail(
            kErrInventory, std::string("inventory failure while trying to ") + what + ": " + error.what());
        ServiceLog(-1, "Inventory::ReadOnly", status.text);
        return status;
    }
}

ServiceStatus Inventory::Start(uint32_t fabric, bool await) {
    if (fabric != ZoScsiServer::ISCSI)
        return Invalid("fabric " + std::to_string(fabric) + " is not served; only 1 (iSCSI)");
    if (await) {
        const ServiceStatus ready = AwaitBackend("start");
        if (ready.number == ZoScsiServer::kErrBusy) return ready;
    }
    BackendCall backend(m_backend);
    ServiceStatus status;
    try {
        status = m_store.Write([&](InventoryQueries& queries) { return StartLocked(fabric, queries, backend); });
    } catch (const std::exception& error) {
        return ServiceStatus::Fail(kErrInventory, std::string("inventory failure while starting: ") + error.what());
    }
    return status.ok() && await ? AwaitBackend("start") : status;
}

ServiceStatus Inventory::Resync() {
    const ServiceStatus ready = AwaitBackend("resynchronise");
    if (ready.number == ZoScsiServer::kErrBusy) return ready;
    BackendCall backend(m_backend);
    ServiceStatus status;
    try {
        status = m_store.Write([&](InventoryQueries& queries) {
            if (!m_started) return StartLocked(ZoScsiServer::ISCSI, queries, backend);
            const InventorySnapshot snapshot = queries.Snapshot();
            return backend.Run("resynchronise", [&](Backend& b) { return b.Resync(snapshot); });
        });
    } catch (const std::exception& error) {
        return ServiceStatus::Fail(kErrInventory, std::string("inventory failure while resynchronising: ") + error.what());
    }
    const ServiceStatus restored = AwaitBackend("resynchronise");
    return restored.ok() ? status : restored;
}

void Inventory::Stop() {
    try {
        (void)m_store.Write([&](InventoryQueries&) {
            m_backend.Stop();
            m_started = false;
            return ServiceStatus::Ok();
        });
    } catch (const std::exception& error) {
        ServiceLog(-1, "Inventory::Stop", std::string("stopping the backend: ") + error.what());
    }
}

ServiceStatus Inventory::CreateTarget(const std::string& name, const std::string& params) {
    ServiceStatus status = CheckTargetName(name);
    if (status.ok()) status = CheckText("target parameters", params);
    if (!status.ok()) return status;
    return Mutate("create a target", [&](InventoryQueries& queries, BackendCall& backend) {
        if (queries.FindTarget(name)) return AlreadyExists("target " + name + " already exists");
        if (queries.Counts().targets >= kMaxTargets)
            return LimitReached("the inventory holds " + std::to_string(kMaxTargets) + " targets, its limit");
        const TargetRecord target{name, params, Now()};
        queries.InsertTarget(target);
        return backend("create target " + name, [&](Backend& b) { return b.CreateTarget(target); });
    });
}

ServiceStatus Inventory::DeleteTarget(const std::string& name) {
    ServiceStatus status = CheckTargetName(name);
    if (!status.ok()) return status;
    return Mutate("delete a target", [&](InventoryQueries& queries, BackendCall& backend) {
        const std::optional<TargetRecord> target = queries.FindTarget(name);
        if (!target) return NotFound("target " + name + " does not exist");
        const int64_t luns = queries.CountLuns(name);
        if (luns > 0)
            return Busy("target " + name + " still has " + std::to_string(luns) + " LUN(s); delete them first");
        queries.DeleteTarget(name);
        return backend("delete target " + name, [&](Backend& b) { return b.DeleteTarget(*target); });
    });
}

ServiceStatus Inventory::CreateLun(const std::string& target, uint64_t sizeBytes, uint32_t setting,
                                   const std::string& options, LunRecord& created) {
    ServiceStatus status = CheckTargetName(target);
    if (status.ok()) status = CheckText("LUN options", options);
    if (!status.ok()) return status;
    LunRecord lun;
    status = Mutate("create a LUN", [&](InventoryQueries& queries, BackendCall& backend) {
        if (!queries.FindTarget(target)) return NotFound("target " + target + " does not exist");
        const int32_t id = queries.LowestFreeLunId(target, kMaxLunId);
        if (id == 0) return LimitReached("target " + target + " has no free LUN id (1.." + std::to_string(kMaxLunId) + ")");
        lun = LunRecord{target, id, LunName(target, id), sizeBytes, setting, options, true, Now()};
        const ServiceStatus fits =
            GrowListing(queries, ListingSize::Of(ListingLine(target, "", id, lun.created)), "creating " + LunText(target, id));
        if (!fits.ok()) return fits;
        queries.InsertLun(lun);
        return backend("create " + LunText(target, id), [&](Backend& b) { return b.CreateLun(lun); });
    });
    if (status.ok()) created = lun;
    return status;
}

ServiceStatus Inventory::OpenLun(const std::string& target, int64_t id, LunRecord& opened) {
    ServiceStatus status = CheckLun(target, id);
    if (!status.ok()) return status;
    LunRecord lun;
    status = Mutate("open a LUN", [&](InventoryQueries& queries, BackendCall& backend) {
        ServiceStatus found = FindLun(queries, target, id, lun);
        if (!found.ok() || lun.open) return found;
        queries.SetLunOpen(target, lun.id, true);
        lun.open = true;
        return backend("open " + LunText(target, id), [&](Backend& b) { return b.OpenLun(lun); });
    });
    if (status.ok()) opened = lun;
    return status;
}

ServiceStatus Inventory::CloseLun(const std::string& target, int64_t id) {
    ServiceStatus status = CheckLun(target, id);
    if (!status.ok()) return status;
    return Mutate("close a LUN", [&](InventoryQueries& queries, BackendCall& backend) {
        LunRecord lun;
        ServiceStatus found = FindLun(queries, target, id, lun);
        if (!found.ok() || !lun.open) return found;
        queries.SetLunOpen(target, lun.id, false);
        lun.open = false;
        return backend("close " + LunText(target, id), [&](Backend& b) { return b.CloseLun(lun); });
    });
}

ServiceStatus Inventory::DeleteLun(const std::string& target, int64_t id) {
    ServiceStatus status = CheckLun(target, id);
    if (!status.ok()) return status;
    return Mutate("delete a LUN", [&](InventoryQueries& queries, BackendCall& backend) {
        LunRecord lun;
        ServiceStatus found = FindLun(queries, target, id, lun);
        if (!found.ok()) return found;
        const std::vector<std::string> hosts = queries.HostsOf(target, lun.id);
        if (!hosts.empty())
            return Busy(LunText(target, id) + " is mapped to " + Joined(hosts) + "; unmap it first");
        queries.AddToFullListingSize(-ListingSize::Of(ListingLine(target, "", lun.id, lun.created)));
        queries.DeleteLun(target, lun.id);
        return backend("delete " + LunText(target, id), [&](Backend& b) { return b.DeleteLun(lun); });
    });
}

ServiceStatus Inventory::MapHost(const std::string& target, int64_t id, const std::string& host) {
    ServiceStatus status = CheckLun(target, id);
    if (status.ok()) status = CheckHostName(host);
    if (!status.ok()) return status;
    return Mutate("map a LUN", [&](InventoryQueries& queries, BackendCall& backend) {
        LunRecord lun;
        ServiceStatus found = FindLun(queries, target, id, lun);
        if (!found.ok()) return found;
        std::vector<std::string> hosts = queries.HostsOf(target, lun.id);
        if (std::binary_search(hosts.begin(), hosts.end(), host))
            return AlreadyExists(LunText(target, id) + " is already mapped to " + Quote(host));
        if (hosts.size() >= static_cast<size_t>(kMaxHostsPerLun))
            return LimitReached(LunText(target, id) + " is mapped to " + std::to_string(kMaxHostsPerLun) +
                                " hosts, its limit");
        const ServiceStatus fits = GrowListing(queries, MappingLines(lun, host, hosts.empty()),
                                                 "mapping " + LunText(target, id) + " to " + Quote(host));
        if (!fits.ok()) return fits;
        queries.InsertMapping(MappingRecord{target, lun.id, host}, Now());
        hosts.insert(std::lower_bound(hosts.begin(), hosts.end(), host), host);
        return backend("map " + LunText(target, id) + " to " + Quote(host),
                       [&](Backend& b) { return b.MapHost(lun, host, hosts); });
    });
}

ServiceStatus Inventory::UnmapHost(const std::string& target, int64_t id, const std::string& host) {
    ServiceStatus status = CheckLun(target, id);
    if (status.ok()) status = CheckStoredHostName(host);
    if (!status.ok()) return status;
    return Mutate("unmap a LUN", [&](InventoryQueries& queries, BackendCall& backend) {
        LunRecord lun;
        ServiceStatus found = FindLun(queries, target, id, lun);
        if (!found.ok()) return found;
        std::vector<std::string> hosts = queries.HostsOf(target, lun.id);
        const auto mapped = std::lower_bound(hosts.begin(), hosts.end(), host);
        if (mapped == hosts.end() || *mapped != host) {
            // Only a mapping stored before names had to be UTF-8 is taken in another form.
            const ServiceStatus valid = CheckHostName(host);
            if (!valid.ok()) return valid;
            return NotFound(LunText(target, id) + " is not mapped to " + Quote(host));
        }
        hosts.erase(mapped);
        queries.AddToFullListingSize(-MappingLines(lun, host, hosts.empty()));
        queries.DeleteMapping(MappingRecord{target, lun.id, host});
        return backend("unmap " + LunText(target, id) + " from " + Quote(host),
                       [&](Backend& b) { return b.UnmapHost(lun, host, hosts); });
    });
}

ServiceStatus Inventory::ListLuns(const LunFilter& filter, std::vector<std::string>& lines) {
    const ServiceStatus valid = CheckFilter(filter);
    if (!valid.ok()) return valid;
    return ReadOnly("list LUNs", [&](InventoryQueries& queries) {
        queries.LunLines(filter, lines);
        return ServiceStatus::Ok();
    });
}

ServiceStatus Inventory::ListTargets(std::vector<std::string>& names) {
    return ReadOnly("list targets", [&](InventoryQueries& queries) {
        queries.TargetNames(names);
        return ServiceStatus::Ok();
    });
}

ServiceStatus Inventory::ListLunDetails(const LunFilter& filter, const LunKey& from, size_t pageBytes,
                                        std::vector<std::string>& lines, LunKey& next) {
    next = LunKey();
    const ServiceStatus valid = CheckFilter(filter);
    if (!valid.ok()) return valid;
    const bool exported = m_started;  // a backend that has not started exports nothing
    return ReadOnly("list LUNs in detail", [&](InventoryQueries& queries) {
        size_t bytes = 0;
        LunKey current;
        queries.ForEachLunDetail(filter, from, [&](const LunRecord& lun, const std::string& host) {
            if (lun.id != current.id || lun.target != current.target) {
                // Pages end between LUNs, so that a LUN's hosts are listed together.
                if (bytes >= pageBytes) {
                    next = LunKey{lun.target, lun.id};
                    return false;
                }
                current = LunKey{lun.target, lun.id};
            }
            lines.push_back(DetailLine(lun, host, exported ? m_backend.ExportOf(lun, host) : std::string()));
            bytes += static_cast<size_t>(ListingSize::Of(lines.back()).bytes);
            return true;
        });
        return ServiceStatus::Ok();
    });
}

ServiceStatus Inventory::ListTargetDetails(std::vector<TargetDetails>& rows) {
    return ReadOnly("list targets in detail", [&](InventoryQueries& queries) {
        queries.TargetDetailRows(rows);
        return ServiceStatus::Ok();
    });
}

ServiceStatus Inventory::Count(InventoryCounts& counts) {
    return ReadOnly("count the inventory", [&](InventoryQueries& queries) {
        counts = queries.Counts();
        return ServiceStatus::Ok();
    });
}

}  // namespace zoscsi
