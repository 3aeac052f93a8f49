// Kill -9 at random moments: a real zoscsisrv serves a stream of mutations
// from several clients and is killed with SIGKILL at a random point (now and
// then before it even listens), then started again on the same inventory,
// again and again. After every restart the inventory must hold every
// acknowledged operation, and each operation that was in flight at the kill
// either entirely or not at all (support/CrashModel.h); a refusal the model
// cannot explain, or a service that does not come back, fails the test.
#include "CrashModel.h"
#include "Scale.h"
#include "ServiceClient.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace zorel;

namespace {

TEST(CrashConsistency, EveryAcknowledgedOperationSurvivesKillsAtRandomPoints) {
    KillRun run;
    run.kills = Scaled("ZO_RELIABILITY_KILLS", 200);
    run.clients = Scaled("ZO_RELIABILITY_KILL_CLIENTS", 3);
    run.seed = Seed();
    std::printf("seed %u, %ld kills, %ld clients\n", run.seed, run.kills, run.clients);
    ServiceProcess service(ServiceOptions{});
    RunKillCycles(service, run);
    std::printf("%ld kills (%ld while starting), %ld acknowledged mutations, %ld in flight at a kill, %.1f s\n",
                run.kills, run.early, run.acknowledged, run.inFlight, run.seconds);
    RecordProperty("acknowledged", static_cast<int>(run.acknowledged));
    EXPECT_GT(run.acknowledged, run.kills / 4) << "the kills came too early to test anything";
}

}  // namespace
