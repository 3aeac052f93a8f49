// Kill -9 with the tgt backend and a real tgtd (root only; skipped
// elsewhere): the cycles of CrashConsistencyTest, and after every restart
// tgtd must hold exactly what the inventory lists: one tgt target per
// (target, host) pair with its LUNs, admitting that host alone. tgtd
// outlives the killed service (it was started by the first instance); each
// restart brings it in line before it listens.
#include "CrashModel.h"
#include "Scale.h"
#include "ServiceProcess.h"
#include "support/LoopbackPort.h"
#include "support/TgtdProcess.h"

#include "backend/tgt/TgtAdm.h"
#include "backend/tgt/TgtLayout.h"
#include "backend/tgt/TgtShow.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

using namespace zorel;
namespace tgt = zoscsi::tgt;

namespace {

using zotest::FreeLoopbackPort;

using zotest::kTgtadmPath;
using zotest::kTgtdPath;
constexpr const char* kIqnPrefix = "iqn.2026-12.local.zo";

// SIGKILLs the tgtd on `controlPort` if one is left, and removes its socket files.
void KillTgtd(int controlPort) {
    for (pid_t pid = zotest::FindTgtd(controlPort); pid != 0; pid = zotest::FindTgtd(controlPort, pid))
        ::kill(pid, SIGKILL);
    ::usleep(100000);
    zotest::RemoveTgtdSockets(controlPort);
}

// IQN -> (LUNs but the controller, initiator names admitted).
using TgtView = std::map<std::string, std::pair<std::set<int>, std::set<std::string>>>;

TgtView Expected(const InventoryView& view, const tgt::LayoutNames& names) {
    TgtView expected;
    for (const auto& target : view)
        for (const auto& lun : target.second)
            for (const std::string& host : lun.second) {
                auto& entry = expected[tgt::TargetIqn(names, target.first, host)];
                entry.first.insert(lun.first);
                entry.second.insert(host);
            }
    return expected;
}

TgtView Actual(int controlPort, const tgt::LayoutNames& names) {
    const tgt::TgtAdm adm({kTgtadmPath, controlPort, std::chrono::milliseconds(10000)});
    tgt::TgtCommand show;
    show.op = tgt::TgtCommand::Op::ShowTargets;
    const tgt::TgtAdmResult shown = adm.Run(show);
    EXPECT_TRUE(shown.ok) << shown.text;
    std::vector<tgt::TgtTargetState> targets;
    std::string error;
    EXPECT_TRUE(tgt::ParseTargets(shown.out, targets, error)) << error;
    TgtView actual;
    for (const tgt::TgtTargetState& target : targets) {
        if (!tgt::IsOwned(names, target.name)) continue;
        auto& entry = actual[target.name];
        for (const tgt::TgtLunState& lun : target.luns)
            if (lun.lun != 0) entry.first.insert(lun.lun);
        entry.second.insert(target.acls.begin(), target.acls.end());
    }
    return actual;
}

std::string Describe(const TgtView& view) {
    std::string text;
    for (const auto& target : view) {
        text += target.first + " luns";
        for (int lun : target.second.first) text += " " + std::to_string(lun);
        text += " acl";
        for (const std::string& acl : target.second.second) text += " " + acl;
        text += "\n";
    }
    return text;
}

TEST(TgtCrash, TgtdHoldsWhatTheInventoryListsAfterEveryRestart) {
    if (::geteuid() != 0) GTEST_SKIP() << "tgtd needs root";
    if (!std::filesystem::exists(kTgtdPath) || !std::filesystem::exists(kTgtadmPath)) GTEST_SKIP() << "tgt is not installed";
    // tgtd's control "port" names its unix socket, /var/run/tgtd/socket.N (N below 32768).
    int controlPort = 21000 + static_cast<int>(::getpid() % 9000);
    while (std::filesystem::exists(zotest::TgtdSocketPath(controlPort))) ++controlPort;
    const int portalPort = FreeLoopbackPort();
    ServiceOptions options;
    options.backend = "tgt";
    options.settings = {{"TgtControlPort", std::to_string(controlPort)},
                        {"TgtPortal", "127.0.0.1:" + std::to_string(portalPort)},
                        {"TgtIqnPrefix", kIqnPrefix},
                        {"TgtStopOnExit", "true"}};
    ServiceProcess service(options);
    service.AddSetting("TgtClaimDir", service.options().folder + "/claims");
    const tgt::LayoutNames names{kIqnPrefix, service.options().client, service.stateFolder() + "/luns"};

    KillRun run;
    run.kills = Scaled("ZO_RELIABILITY_TGT_KILLS", 40);
    run.clients = 2;
    run.seed = Seed();
    run.earlyKillPercent = 5;
    run.windowMicros = 300000;
    long compared = 0;
    run.afterRestart = [&](const InventoryView& view) {
        const TgtView expected = Expected(view, names);
        const TgtView actual = Actual(controlPort, names);
        EXPECT_EQ(Describe(actual), Describe(expected)) << "tgtd differs from the inventory after a restart";
        compared += static_cast<long>(expected.size());
    };
    std::printf("seed %u, %ld kills, tgtd on control port %d\n", run.seed, run.kills, controlPort);
    RunKillCycles(service, run);
    std::printf("%ld kills, %ld acknowledged mutations, %ld in flight at a kill, %ld tgt targets compared, %.1f s\n",
                run.kills, run.acknowledged, run.inFlight, compared, run.seconds);
    if (service.Running()) service.Stop();
    KillTgtd(controlPort);
    EXPECT_GT(run.acknowledged, 0);
}

}  // namespace
