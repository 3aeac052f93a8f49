// Inventory: the service's targets, LUNs and host mappings, and their rules.
//
// Every mutation validates its values, checks the rules against the stored
// records, writes them and has the backend carry the change out, all in one
// inventory transaction: the answer is given only after the commit, and a
// backend refusal rolls everything back (kErrBackend with the backend's
// text, or the error number the backend named). Rules (docs/SERVICE.md):
//   - a target exists once (7); it can be deleted only without LUNs (16);
//   - a LUN gets the lowest free id from 1 in its target; a closed LUN keeps
//     its record and data and is opened again by id; a LUN can be deleted
//     only without host mappings (16);
//   - a mapping exists once (7); unmapping a missing one is not found (2).
// Until the backend has been started, a mutation starts it first; while
// it restores its exports (after a start), a mutation waits for it.
#pragma once

#include "backend/Backend.h"
#include "common/ServiceStatus.h"
#include "inventory/InventoryStore.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zoscsi {

class Inventory {
public:
    using Clock = std::function<int64_t()>;  // seconds since the epoch

    // `clock` defaults to the system clock. `limits` bound the full listing:
    // a change that would take it past them is refused (kErrLimit), so that
    // every listing fits in one answer. The inventory tells the backend of
    // every commit of `store` (Backend::Committed) while it lives.
    Inventory(InventoryStore& store, Backend& backend, Clock clock = Clock(),
              ListingLimits limits = DefaultListingLimits());
    ~Inventory();
    Inventory(const Inventory&) = delete;
    Inventory& operator=(const Inventory&) = delete;

    // Brings the backend up for `fabric` (1 only) in line with the inventory.
    // With `await` the answer waits for the work the backend left running
    // (a restore), within the backend's bound; the service's own start does
    // not wait, so that it answers while the exports come back.
    ServiceStatus Start(uint32_t fabric, bool await = true);
    // Brings the backend in line with the inventory again, and waits as Start.
    ServiceStatus Resync();
    bool started() const { return m_started; }
    // The backend's one-line state for the status ("ready", a restore's progress).
    std::string backendState() const { return m_backend.State(); }
    // Stops the backend once no mutation runs any more (at shutdown).
    void Stop();
    const char* backendName() const { return m_backend.Name(); }

    ServiceStatus CreateTarget(const std::string& name, const std::string& params);
    ServiceStatus DeleteTarget(const std::string& name);
    // `sizeBytes` is checked by the caller (ParseSize).
    ServiceStatus CreateLun(const std::string& target, uint64_t sizeBytes, uint32_t setting,
                            const std::string& options, LunRecord& created);
    // Opens a closed LUN; an open one is answered as it is.
    ServiceStatus OpenLun(const std::string& target, int64_t id, LunRecord& opened);
    // Closes an open LUN (a closed one stays closed); mappings stay.
    ServiceStatus CloseLun(const std::string& target, int64_t id);
    ServiceStatus DeleteLun(const std::string& target, int64_t id);
    ServiceStatus MapHost(const std::string& target, int64_t id, const std::string& host);
    ServiceStatus UnmapHost(const std::string& target, int64_t id, const std::string& host);

    // Appends the listing lines that pass `filter` to `lines`.
    ServiceStatus ListLuns(const LunFilter& filter, std::vector<std::string>& lines);
    ServiceStatus ListTargets(std::vector<std::string>& names);
    // A page of the detailed listing (DetailLine): every line of whole LUNs
    // from `from` on, until the lines take `pageBytes` of an answer. `next` is
    // the LUN the following page starts at; an empty target when none is left.
    ServiceStatus ListLunDetails(const LunFilter& filter, const LunKey& from, size_t pageBytes,
                                 std::vector<std::string>& lines, LunKey& next);
    ServiceStatus ListTargetDetails(std::vector<TargetDetails>& rows);
    ServiceStatus Count(InventoryCounts& counts);

private:
    // Calls the backend inside a mutation; a refusal or a throw becomes kErrBackend
    // (or the number the backend's refusal carries).
    class BackendCall;
    using Mutation = std::function<ServiceStatus(InventoryQueries&, BackendCall&)>;

    // Runs `mutation` in a write transaction; SQLite failures become
    // kErrInventory. When the backend was called but the transaction did not
    // commit, the backend is brought back in line with the inventory (not
    // after a refusal with a number of its own: it changed nothing). While
    // the backend restores its exports, waits for it within its bound and
    // otherwise refuses with kErrBusy and the restore's progress.
    ServiceStatus Mutate(const char* what, const Mutation& mutation);
    // Backend::AwaitReady as a status; `what` completes "backend X refused to ...".
    ServiceStatus AwaitBackend(const char* what);
    ServiceStatus ReadOnly(const char* what, const InventoryStore::Body& body);
    ServiceStatus StartLocked(uint32_t fabric, InventoryQueries& queries, BackendCall& backend);
    // Adds a change's lines to the full listing's size, or refuses the change
    // when it would pass a limit it grows towards. `what` names the change.
    ServiceStatus GrowListing(InventoryQueries& queries, const ListingSize& change, const std::string& what);
    int64_t Now() const;

    InventoryStore& m_store;
    Backend& m_backend;
    Clock m_clock;
    ListingLimits m_limits;
    std::atomic<bool> m_started{false};
};

}  // namespace zoscsi
