// The Tgt* keys of [ZoScsiSrv]: defaults, accepted forms, and refusals that
// name the key.
#include "backend/tgt/TgtConfig.h"

#include <gtest/gtest.h>
#include <map>

using namespace zoscsi::tgt;

namespace {

bool Load(const std::map<std::string, std::string>& keys, TgtConfig& config, std::string& error) {
    return LoadTgtConfig(
        [&](const std::string& key, std::string& value) {
            const auto found = keys.find(key);
            if (found == keys.end()) return false;
            value = found->second;
            return true;
        },
        config, error);
}

}  // namespace

TEST(TgtConfig, DefaultsServeLoopbackWithItsOwnTgtd) {
    TgtConfig config;
    std::string error;
    ASSERT_TRUE(Load({}, config, error)) << error;
    EXPECT_EQ(config.Portal(), "127.0.0.1:3260");
    EXPECT_TRUE(config.startDaemon);
    EXPECT_FALSE(config.stopOnExit);
    EXPECT_EQ(config.iqnPrefix, "iqn.2026-12.local.zo");
    EXPECT_EQ(config.tgtadmPath, "/usr/sbin/tgtadm");
    EXPECT_EQ(config.backingStore, "rdwr");
    EXPECT_EQ(config.backingFlags, "");
    EXPECT_EQ(config.ioThreads, 1);
}

TEST(TgtConfig, ReadsEveryKey) {
    TgtConfig config;
    std::string error;
    ASSERT_TRUE(Load({{"TgtIqnPrefix", "iqn.2030-01.org.example"},
                      {"TgtPortal", "[0:0::1]:13260"},
                      {"TgtControlPort", "77"},
                      {"TgtStartDaemon", "no"},
                      {"TgtStopOnExit", "true"},
                      {"TgtAdmPath", "/opt/tgtadm"},
                      {"TgtdPath", "/opt/tgtd"},
                      {"TgtCallTimeoutMs", "2500"},
                      {"TgtStartTimeoutMs", "9000"},
                      {"TgtBackingStore", "rdwr"},
                      {"TgtBackingStoreFlags", "sync:direct"},
                      {"TgtIoThreads", "16"},
                      {"TgtParallelCalls", "2"},
                      {"TgtRestoreWaitMs", "0"},
                      {"TgtClaimDir", "/run/claims"}},
                     config, error))
        << error;
    EXPECT_EQ(config.iqnPrefix, "iqn.2030-01.org.example");
    EXPECT_EQ(config.Portal(), "[::1]:13260");  // as tgtd writes it
    EXPECT_EQ(config.controlPort, 77);
    EXPECT_FALSE(config.startDaemon);
    EXPECT_TRUE(config.stopOnExit);
    EXPECT_EQ(config.tgtdPath, "/opt/tgtd");
    EXPECT_EQ(config.callLimit.count(), 2500);
    EXPECT_EQ(config.startLimit.count(), 9000);
    EXPECT_EQ(config.backingFlags, "sync:direct");
    EXPECT_EQ(config.ioThreads, 16);
    EXPECT_EQ(config.parallelCalls, 2);
    EXPECT_EQ(config.restoreWait.count(), 0);
    EXPECT_EQ(config.claimDir, "/run/claims");
}

TEST(TgtConfig, RefusesBadValuesNamingTheKey) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"TgtIqnPrefix", "IQN.2026-12.Local"}, {"TgtIqnPrefix", "iqn.x:"},       {"TgtIqnPrefix", "local.zo"},
        {"TgtIqnPrefix", "iqn.a b"},          {"TgtPortal", "localhost:3260"},  {"TgtPortal", "127.0.0.1"},
        {"TgtPortal", "127.0.0.1:0"},         {"TgtPortal", "127.0.0.1:65536"}, {"TgtPortal", "::1:3260"},
        {"TgtControlPort", "-1"},             {"TgtControlPort", "x"},  {"TgtControlPort", "32768"},          {"TgtStartDaemon", "maybe"},
        {"TgtAdmPath", "tgtadm"},             {"TgtCallTimeoutMs", "0"},        {"TgtStartTimeoutMs", "10s"},
        {"TgtBackingStore", "mmap"},          {"TgtBackingStoreFlags", "fsync"}, {"TgtIoThreads", "0"},
        {"TgtIoThreads", "129"},             {"TgtParallelCalls", "0"},        {"TgtRestoreWaitMs", "-5"},
        {"TgtClaimDir", "claims"},
    };
    for (const auto& [key, value] : cases) {
        TgtConfig config;
        std::string error;
        EXPECT_FALSE(Load({{key, value}}, config, error)) << key << "=" << value;
        EXPECT_EQ(error.rfind(key, 0), 0u) << error;
    }
    TgtConfig config;
    std::string error;  // tgtd's aio store opens O_DIRECT and takes no flags
    EXPECT_FALSE(Load({{"TgtBackingStore", "aio"}, {"TgtBackingStoreFlags", "sync"}}, config, error));
    EXPECT_EQ(error.rfind("TgtBackingStoreFlags", 0), 0u) << error;
    EXPECT_TRUE(Load({{"TgtBackingStore", "aio"}, {"TgtBackingStoreFlags", "none"}}, config, error)) << error;
}
