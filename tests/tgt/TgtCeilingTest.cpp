// The LUN ceiling: which limit binds for each data path, limits that are not
// known bound nothing, and only growth past the ceiling is refused.
#include "backend/tgt/TgtCeiling.h"

#include <gtest/gtest.h>

using namespace zoscsi::tgt;

namespace {

// This test machine's limits when they were measured (docs/TGT.md).
MachineLimits Machine() {
    MachineLimits m;
    m.pidMax = 32768;
    m.threadsMax = 192727;
    m.mapCount = 65530;
    m.openFiles = 20000;
    m.fileMax = 2466146;
    m.aioMax = 65536;
    m.memoryKiB = 24683520;
    return m;
}

TgtConfig Store(const char* type, int threads) {
    TgtConfig config;
    config.backingStore = type;
    config.ioThreads = threads;
    return config;
}

}  // namespace

TEST(TgtCeiling, TheFirstLimitToBindNamesItself) {
    MachineLimits cgroup = Machine();
    cgroup.cgroupPids = 4915;
    MachineLimits fewFiles = Machine();
    fewFiles.openFiles = 1024;
    MachineLimits fewMaps = Machine();
    fewMaps.mapCount = 9000;
    const struct {
        const char* name;
        TgtConfig config;
        MachineLimits limits;
        int64_t luns;
        const char* cause;
    } cases[] = {
        {"one thread per LUN", Store("rdwr", 1), Machine(), 16384, "threads: 1 per LUN, 16384 available (half of kernel.pid_max 32768)"},
        {"tgtd's own default", Store("rdwr", 16), Machine(), 1024, "threads: 16 per LUN"},
        {"a service's cgroup", Store("rdwr", 1), cgroup, 2457, "half of the cgroup's pids.max 4915"},
        {"aio", Store("aio", 1), Machine(), 256, "aio slots: 128 per LUN, 32768 available (half of fs.aio-max-nr 65536)"},
        {"a low descriptor limit", Store("rdwr", 1), fewFiles, 512, "descriptors: 1 per LUN, 512 available"},
        {"few memory maps", Store("rdwr", 4), fewMaps, 997, "memory maps: 8 per LUN, 7976 available"},
    };
    for (const auto& c : cases) {
        const LunCeiling ceiling = ComputeLunCeiling(c.config, c.limits);
        EXPECT_EQ(ceiling.luns, c.luns) << c.name << ": " << ceiling.cause;
        EXPECT_NE(ceiling.cause.find(c.cause), std::string::npos) << c.name << ": " << ceiling.cause;
    }
}

TEST(TgtCeiling, LimitsThatCannotBeReadBoundNothing) {
    EXPECT_LT(ComputeLunCeiling(Store("rdwr", 1), MachineLimits{}).luns, 0);
    MachineLimits onlyMemory;
    onlyMemory.memoryKiB = 1600;
    EXPECT_EQ(ComputeLunCeiling(Store("rdwr", 1), onlyMemory).luns, 25);  // 400 KiB, 16 KiB per LUN
}

TEST(TgtCeiling, OnlyGrowthPastTheCeilingIsRefused) {
    const LunCeiling ceiling{100, "threads: 1 per LUN, 100 available (half of kernel.pid_max 200)"};
    EXPECT_EQ(PastCeiling(ceiling, 100, 0), "");
    EXPECT_EQ(PastCeiling(ceiling, 120, 130), "");  // fewer than tgtd holds: a way back under
    EXPECT_EQ(PastCeiling(ceiling, 130, 130), "");
    const std::string refused = PastCeiling(ceiling, 101, 100);
    EXPECT_EQ(refused.rfind("tgtd can export at most 100 LUNs on this machine (threads: 1 per LUN", 0), 0u) << refused;
    EXPECT_NE(refused.find("this change would export 101"), std::string::npos) << refused;
    EXPECT_EQ(PastCeiling(LunCeiling{-1, "none"}, 1000000, 0), "");
}

TEST(TgtCeiling, ThisMachineHasLimits) {
    const MachineLimits limits = ReadMachineLimits();
    EXPECT_GT(limits.pidMax, 0);
    EXPECT_GT(limits.mapCount, 0);
    EXPECT_GT(limits.memoryKiB, 0);
}
