// Seeds a (not running) tgt-backend instance for scripts/bench-tgt.sh: one
// target with LUNS open LUNs of SIZE_MIB MiB, all mapped to one host, in
// one transaction of the service's own store, and a sparse backing file for
// each where the backend looks for it. Prints one line:
//
//   target=NAME host=INITIATOR lun1=PATH
//
//   bench_tgt_seed STATE_ROOT CLIENT LUNS SIZE_MIB
#include "support/SeedInventory.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

int main(int argc, char** argv) {
    const int luns = argc == 5 ? std::atoi(argv[3]) : 0;
    const long long mib = argc == 5 ? std::atoll(argv[4]) : 0;
    if (luns <= 0 || luns > 16383 || mib <= 0) {
        std::fprintf(stderr, "usage: %s STATE_ROOT CLIENT LUNS(1..16383) SIZE_MIB\n", argv[0]);
        return 1;
    }
    const std::string folder = std::string(argv[1]) + "/" + argv[2];
    zobench::SeedPlan plan;
    plan.lunsPerTarget = luns;
    plan.hostCount = 1;
    plan.lunBytes = static_cast<uint64_t>(mib) << 20;
    try {
        zobench::SeedInventory(folder, plan);
        zobench::SeedLunFiles(folder, plan);
        std::printf("target=%s host=%s lun1=%s\n", zobench::SeedTargetName(plan, 0).c_str(),
                    zobench::SeedHostName(0).c_str(), zobench::SeedLunPath(folder, plan, 0, 1).c_str());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
    return 0;
}
