// Durable mutations through the library against a private zoscsisrv:
// clients map and unmap a host to LUNs of a seeded inventory, each call one
// committed change, and the program prints what it measured on one line:
//
//   clients=C luns=L ops=N seconds=S ops_per_s=R median_us=M p90_us=P
//
// Options: --clients C (default 1, each its own client and connection),
// --ops N (mutations per client, default 400), --luns L (LUNs in the
// inventory, default 10).
//
// With --versus V, one client runs the mutations against two instances in
// turn, blocks of 20 on each: one with L LUNs, one with V; it prints both
// medians and their ratio (V / L), so that a disk or machine whose speed
// drifts moves both alike:
//
//   luns=L median_us=M versus_luns=V versus_median_us=W ratio=R
//
// scripts/bench-service.sh runs it beside a tgtadm loop, at several client
// counts and at two inventory sizes.
#include "support/BenchFolder.h"
#include "support/RealService.h"
#include "support/Samples.h"
#include "support/SeedInventory.h"

#include "ZoScsiSrvClient.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    int clients = 1;
    int ops = 400;
    int luns = 10;
    int versus = 0;
};

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (value <= 0) return false;
        if (std::strcmp(argv[i], "--clients") == 0) options.clients = value;
        else if (std::strcmp(argv[i], "--ops") == 0) options.ops = value;
        else if (std::strcmp(argv[i], "--luns") == 0) options.luns = value;
        else if (std::strcmp(argv[i], "--versus") == 0) options.versus = value;
        else return false;
    }
    return argc % 2 == 1;
}

constexpr int kLunsPerTarget = 10000;
constexpr const char* kClientName = "benchops";

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    const size_t at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
    return values[at];
}

// The inventory of `luns` LUNs (targets of up to 10,000) for `clientName`.
zobench::SeedPlan SeedFor(const zobench::RealService& service, const std::string& clientName, int luns) {
    zobench::SeedPlan plan;
    plan.hostsPerLun = 0;
    plan.targets = (luns + kLunsPerTarget - 1) / kLunsPerTarget;
    plan.lunsPerTarget = std::min(luns, kLunsPerTarget);
    zobench::SeedInventory(service.StateFolder(clientName), plan);
    return plan;
}

// One map or unmap (by `step`'s parity) of a LUN spread over the inventory;
// returns its latency in nanoseconds, or a negative number when it failed.
double Mutate(ZoScsiSrvClient& client, const zobench::SeedPlan& plan, const std::string& host, long long step,
              int salt) {
    const int luns = plan.targets * plan.lunsPerTarget;
    const int index = static_cast<int>((step / 2 * 7919 + salt * 104729LL) % luns);
    const ZoScsiSrvClientRequest::MapHostRequest request(
        index % plan.lunsPerTarget + 1, zobench::SeedTargetName(plan, index / plan.lunsPerTarget), host,
        ZoScsiSrvClientRequest::RequestHeader(1, ZoScsiServer::ISCSI, 0));
    const double t0 = zobench::NowNs();
    const bool failed = step % 2 == 0 ? client.MapHost(request).IsError() : client.UnmapHost(request).IsError();
    const double t1 = zobench::NowNs();
    return failed ? -1 : t1 - t0;
}

int Versus(const Options& options, zobench::RealService& service) {
    const zobench::SeedPlan small = SeedFor(service, "benchsmall", options.luns);
    const zobench::SeedPlan large = SeedFor(service, "benchlarge", options.versus);
    ZoScsiSrvClient smallClient, largeClient;
    if (service.Connect(smallClient, "benchsmall").IsError() || service.Connect(largeClient, "benchlarge").IsError()) {
        std::fprintf(stderr, "cannot connect\n");
        return 1;
    }
    constexpr int kBlock = 20;
    zobench::Samples smallTimes, largeTimes;
    for (long long done = 0; done < options.ops; done += kBlock) {
        for (int i = 0; i < kBlock; ++i) {
            const double a = Mutate(smallClient, small, "bench-host", done + i, 0);
            if (a < 0) return 1;
            smallTimes.Add(a);
        }
        for (int i = 0; i < kBlock; ++i) {
            const double b = Mutate(largeClient, large, "bench-host", done + i, 0);
            if (b < 0) return 1;
            largeTimes.Add(b);
        }
    }
    std::printf("luns=%d median_us=%.1f versus_luns=%d versus_median_us=%.1f ratio=%.3f\n",
                small.targets * small.lunsPerTarget, smallTimes.Median() / 1e3, large.targets * large.lunsPerTarget,
                largeTimes.Median() / 1e3, largeTimes.Median() / smallTimes.Median());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: bench_service_ops [--clients C] [--ops N] [--luns L] [--versus V]\n");
        return 2;
    }
    zobench::SilenceLogging();
    zobench::BenchFolder folder("zo-bench-ops");
    zobench::RealService service(folder.path());
    if (options.versus > 0) return Versus(options, service);
    const zobench::SeedPlan plan = SeedFor(service, kClientName, options.luns);
    const int luns = plan.targets * plan.lunsPerTarget;

    std::vector<std::unique_ptr<ZoScsiSrvClient>> clients;
    for (int c = 0; c < options.clients; ++c) {
        clients.push_back(std::make_unique<ZoScsiSrvClient>());
        const CYbError error = service.Connect(*clients.back(), kClientName);
        if (error.IsError()) {
            std::fprintf(stderr, "cannot connect: %s\n", error.ToString().c_str());
            return 1;
        }
    }

    std::vector<std::vector<double>> latencies(options.clients);
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < options.clients; ++c) {
        threads.emplace_back([&, c] {
            ZoScsiSrvClient& client = *clients[c];
            const std::string host = "bench-host-" + std::to_string(c);
            std::vector<double>& mine = latencies[c];
            mine.reserve(options.ops);
            ++ready;
            while (!go.load()) std::this_thread::yield();
            // Map then unmap, on LUNs spread over the whole inventory.
            for (int i = 0; i < options.ops; ++i) {
                const double latency = Mutate(client, plan, host, i, c);
                if (latency < 0) ++failures;
                else mine.push_back(latency);
            }
        });
    }
    while (ready.load() < options.clients) std::this_thread::yield();
    const double start = zobench::NowNs();
    go = true;
    for (std::thread& thread : threads) thread.join();
    const double seconds = (zobench::NowNs() - start) / 1e9;

    std::vector<double> all;
    for (const auto& mine : latencies) all.insert(all.end(), mine.begin(), mine.end());
    if (failures.load() > 0) {
        std::fprintf(stderr, "%d mutations failed\n", failures.load());
        return 1;
    }
    std::printf("clients=%d luns=%d ops=%zu seconds=%.3f ops_per_s=%.1f median_us=%.1f p90_us=%.1f\n",
                options.clients, luns, all.size(), seconds, static_cast<double>(all.size()) / seconds,
                Percentile(all, 0.5) / 1e3, Percentile(all, 0.9) / 1e3);
    return 0;
}
