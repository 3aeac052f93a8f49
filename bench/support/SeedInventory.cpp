#include "support/SeedInventory.h"

#include "backend/tgt/TgtLayout.h"
#include "common/Names.h"
#include "inventory/InventoryStore.h"
#include "zo/PrivateDir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace zobench {

namespace {
constexpr int64_t kCreated = 1700000000;
}

std::string SeedHostName(int n) { return "iqn.1994-05.com.example:client" + std::to_string(n); }

std::string SeedTargetName(const SeedPlan& plan, int index) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%02d", index);
    return plan.targetPrefix + suffix;
}

size_t SeedInventory(const std::string& folder, const SeedPlan& plan) {
    std::string error;
    if (zo::EnsurePrivateDir(folder, error) != 0) throw std::runtime_error(error);
    zoscsi::InventoryStore store(folder);
    size_t lines = 0;
    const zoscsi::ServiceStatus status = store.Write([&](zoscsi::InventoryQueries& queries) {
        for (int t = 0; t < plan.targets; ++t) {
            const std::string target = SeedTargetName(plan, t);
            queries.InsertTarget(zoscsi::TargetRecord{target, "", kCreated});
            for (int id = 1; id <= plan.lunsPerTarget; ++id) {
                queries.InsertLun(zoscsi::LunRecord{target, id, zoscsi::LunName(target, id), plan.lunBytes, 0, "",
                                                    true, kCreated + id});
                for (int h = 0; h < plan.hostsPerLun; ++h)
                    queries.InsertMapping(
                        zoscsi::MappingRecord{target, id,
                                              SeedHostName(plan.hostPerTarget ? t + h : (id + h) % plan.hostCount)},
                        kCreated);
                lines += plan.hostsPerLun > 0 ? static_cast<size_t>(plan.hostsPerLun) : 1;
            }
        }
        return zoscsi::ServiceStatus::Ok();
    });
    if (!status.ok()) throw std::runtime_error("seeding the inventory failed: " + status.text);
    return lines;
}

std::string SeedLunPath(const std::string& folder, const SeedPlan& plan, int index, int id) {
    return zoscsi::tgt::LunPath(zoscsi::tgt::LayoutNames{"", "", folder + "/luns"}, SeedTargetName(plan, index), id);
}

bool MakeSparseFile(const std::string& path, uint64_t bytes) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool made = ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
    ::close(fd);
    return made;
}

void SeedLunFiles(const std::string& folder, const SeedPlan& plan) {
    for (int t = 0; t < plan.targets; ++t)
        for (int id = 1; id <= plan.lunsPerTarget; ++id) {
            const std::string path = SeedLunPath(folder, plan, t, id);
            if (!MakeSparseFile(path, plan.lunBytes)) throw std::runtime_error("cannot make " + path);
        }
}

}  // namespace zobench
