// Fills the inventory of a (not running) service instance directly, through
// the service's own store, in one transaction: large inventories for the
// benchmarks without one durable commit per LUN; and the LUNs' backing files
// where the tgt backend looks for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zobench {

struct SeedPlan {
    int targets = 1;
    int lunsPerTarget = 10;        // at most 16383
    int hostsPerLun = 1;           // mappings to SeedHostName(...), 0 for none
    int hostCount = 1000;          // LUN n is mapped to hosts (n + h) % hostCount
    uint64_t lunBytes = 1u << 20;
    bool hostPerTarget = false;    // every LUN of target t is mapped to SeedHostName(t + h) instead
    std::string targetPrefix = "iqn.2024-01.test.bench:t";
};

// The initiator name of host `n`, as a real initiator names itself.
std::string SeedHostName(int n);

// The name of target `index` of a plan.
std::string SeedTargetName(const SeedPlan& plan, int index);

// Writes the plan into the inventory in `folder` (made when absent). Returns
// the number of listing lines the inventory then holds. Throws on failure.
size_t SeedInventory(const std::string& folder, const SeedPlan& plan);

// The backing file of LUN `id` of target `index` for the tgt backend of the
// instance whose state folder is `folder`.
std::string SeedLunPath(const std::string& folder, const SeedPlan& plan, int index, int id);

// A sparse file of `bytes` at `path` (its folders made), as an operator makes
// one: without a sync. False when it cannot be made.
bool MakeSparseFile(const std::string& path, uint64_t bytes);

// A sparse backing file of plan.lunBytes at SeedLunPath for every LUN of the
// plan. Without the backend's syncs: thousands of files, and a benchmark that
// loses them to a crash only runs again. Throws "cannot make PATH".
void SeedLunFiles(const std::string& folder, const SeedPlan& plan);

}  // namespace zobench
