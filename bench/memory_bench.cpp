// Memory: what a client object, an idle connection and a 100,000-line listing
// cost, in heap bytes counted by this program's allocation hooks (every
// operator new and every pugixml allocation of the process). The service is a
// real zoscsisrv in its own process, so its memory is not counted here.
//
//   BM_ClientObject       sizeof and heap bytes of a constructed client.
//   BM_Exchange_Allocations  allocations of one small exchange.
//   BM_IdleConnection     heap bytes a connected client holds while idle:
//                         after Initialize, after a small exchange, and after
//                         a 100,000-line listing.
//   BM_Listing_Peak/form  the peak heap bytes during a 100,000-line listing,
//                         beside the size of its text (each line and its line
//                         break): "records" is ListLuns into LunInfo records,
//                         "lines" is ListLuns into strings. The budget is a
//                         peak of at most about 3x the text.
#include "support/BenchFolder.h"
#include "support/CountingAllocator.h"
#include "support/RealService.h"
#include "support/SeedInventory.h"

#include "ZoScsiSrvClient.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using zobench::Check;

using LunInfo = ZoScsiSrvClient::LunInfo;

struct Fixture {
    zobench::BenchFolder folder{"zo-bench-memory"};
    zobench::RealService service{folder.path()};
    size_t lines = 0;

    Fixture() {
        zobench::SeedPlan plan;
        plan.lunsPerTarget = 10000;
        plan.targets = 10;
        lines = zobench::SeedInventory(service.StateFolder("mem100k"), plan);
        zobench::SeedInventory(service.StateFolder("memsmall"), zobench::SeedPlan());
        // The first client warms what a process keeps once (configuration,
        // locale facets), so that later figures are the client's own.
        ZoScsiSrvClient warm;
        Check(service.Connect(warm, "memsmall"), "launching");
        std::vector<LunInfo> luns;
        Check(warm.ListLuns(luns, "", ""), "ListLuns");
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

long long Live() { return zobench::Heap().liveBytes; }

void BM_ClientObject(benchmark::State& state) {
    long long heap = 0, allocations = 0;
    for (auto _ : state) {
        const zobench::HeapCounts before = zobench::Heap();
        auto* client = new ZoScsiSrvClient();
        const zobench::HeapCounts after = zobench::Heap();
        heap = after.liveBytes - before.liveBytes;
        allocations = after.allocations - before.allocations;
        delete client;
    }
    state.counters["sizeof_bytes"] = sizeof(ZoScsiSrvClient);
    state.counters["heap_bytes"] = static_cast<double>(heap);
    state.counters["allocations"] = static_cast<double>(allocations);
}
BENCHMARK(BM_ClientObject);

void BM_IdleConnection(benchmark::State& state) {
    Fixture& f = Shared();
    long long connected = 0, afterSmall = 0, afterLarge = 0;
    for (auto _ : state) {
        const long long base = Live();
        auto client = std::make_unique<ZoScsiSrvClient>();
        Check(f.service.Connect(*client, "memsmall"), "Initialize");
        connected = Live() - base;
        std::vector<LunInfo> luns;
        Check(client->ListLuns(luns, "", ""), "ListLuns");
        luns = std::vector<LunInfo>();
        afterSmall = Live() - base;
        state.PauseTiming();
        {
            ZoScsiSrvClient large;
            Check(f.service.Connect(large, "mem100k"), "Initialize");
            const long long largeBase = Live();
            Check(large.ListLuns(luns, "", ""), "ListLuns");
            luns = std::vector<LunInfo>();
            afterLarge = Live() - largeBase + connected;
        }
        state.ResumeTiming();
    }
    state.counters["connected_bytes"] = static_cast<double>(connected);
    state.counters["after_small_bytes"] = static_cast<double>(afterSmall);
    state.counters["after_100k_bytes"] = static_cast<double>(afterLarge);
}
BENCHMARK(BM_IdleConnection)->Iterations(3);

// Heap allocations the client makes for one small exchange (a MapHost or an
// UnmapHost that succeeds), and the heap bytes it holds afterwards beyond
// what it held before.
void BM_Exchange_Allocations(benchmark::State& state) {
    Fixture& f = Shared();
    ZoScsiSrvClient client;
    Check(f.service.Connect(client, "memsmall"), "Initialize");
    const ZoScsiSrvClientRequest::MapHostRequest request(
        1, "iqn.2024-01.test.bench:t00", "bench-host", ZoScsiSrvClientRequest::RequestHeader(1, ZoScsiServer::ISCSI, 0));
    Check(client.MapHost(request), "MapHost");  // warm
    Check(client.UnmapHost(request), "UnmapHost");
    long long allocations = 0, retained = 0, exchanges = 0;
    for (auto _ : state) {
        const zobench::HeapCounts before = zobench::Heap();
        const bool failed = client.MapHost(request).IsError() || client.UnmapHost(request).IsError();
        const zobench::HeapCounts after = zobench::Heap();
        if (failed) state.SkipWithError("MapHost or UnmapHost failed");
        allocations += after.allocations - before.allocations;
        retained = after.liveBytes - before.liveBytes;
        exchanges += 2;
    }
    state.counters["allocations_per_exchange"] =
        exchanges > 0 ? static_cast<double>(allocations) / static_cast<double>(exchanges) : 0;
    state.counters["retained_bytes"] = static_cast<double>(retained);
}
BENCHMARK(BM_Exchange_Allocations)->Iterations(20)->UseRealTime();

template <bool kRecords>
void BM_Listing_Peak(benchmark::State& state) {
    Fixture& f = Shared();
    ZoScsiSrvClient client;
    Check(f.service.Connect(client, "mem100k"), "Initialize");
    long long peak = 0, result = 0, text = 0;
    for (auto _ : state) {
        std::vector<LunInfo> luns;
        std::vector<std::string> lines;
        const long long base = Live();
        zobench::ResetPeak();
        if (kRecords)
            Check(client.ListLuns(luns, "", ""), "ListLuns");
        else
            Check(client.ListLuns("ll", "-h mem100k", lines), "ListLuns");
        const zobench::HeapCounts after = zobench::Heap();
        peak = after.peakBytes - base;
        result = after.liveBytes - base;
        text = 0;
        if (kRecords) {
            for (const LunInfo& lun : luns)
                text += static_cast<long long>(lun.target.size() + (lun.host.empty() ? 1 : lun.host.size()) +
                                               lun.lun.size() + std::to_string(lun.creationTime).size() + 4);
        } else {
            for (const std::string& line : lines) text += static_cast<long long>(line.size() + 1);
        }
        if ((kRecords ? luns.size() : lines.size()) != f.lines) state.SkipWithError("short listing");
    }
    state.counters["text_MB"] = static_cast<double>(text) / 1e6;
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    state.counters["result_MB"] = static_cast<double>(result) / 1e6;
    state.counters["peak_over_text"] = text > 0 ? static_cast<double>(peak) / static_cast<double>(text) : 0;
    state.counters["result_over_text"] = text > 0 ? static_cast<double>(result) / static_cast<double>(text) : 0;
}
BENCHMARK_TEMPLATE(BM_Listing_Peak, true)
    ->Name("BM_Listing_Peak/records")
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Listing_Peak, false)->Name("BM_Listing_Peak/lines")->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    zobench::CountPugixml();
    zobench::SilenceLogging();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
