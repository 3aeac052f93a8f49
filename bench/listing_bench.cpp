// Listings, on the client side and end to end.
//
//   BM_Listing_ClientSideBySide/N   per iteration: a raw round trip of the
//       listing's exact bytes (RawClient -> MinimalPeer(Raw)), then
//       ZoScsiSrvClient::ListLuns against a peer that answers the same bytes
//       (MinimalPeer(Decode), answer pre-encoded); the peers run in a process
//       of their own. The difference is the
//       client's work: receive, decode, split, records. ns_per_line is it per
//       line, logging off (level -2).
//   BM_Split_SideBySide             the same lines split by a std::regex token
//       split (the baseline) and by the listing parser's split.
//   BM_Decode/N, BM_Records/N       the steps on their own, without I/O.
//   BM_EndToEnd_SideBySide          100,000 lines against 10,000 lines from a
//       real zoscsisrv (seeded inventories), in turn in every iteration;
//       ratio is 100k / 10k (no quadratic step: about 10).
#include "support/Answers.h"
#include "support/BenchFolder.h"
#include "support/MinimalPeer.h"
#include "support/PeerProcess.h"
#include "support/RawClient.h"
#include "support/RealService.h"
#include "support/SeedInventory.h"
#include "support/SideBySide.h"

#include "ListingParser.h"
#include "ZoScsiSrvClient.h"
#include "zo/FrameCodec.h"
#include "zo/XmlCodec.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace {

using zobench::Check;
using zobench::MinorFaults;
using zobench::ThreadCpuNs;

namespace W = ZoScsiServer::Wire;
using LunInfo = ZoScsiSrvClient::LunInfo;
using zobench::Samples;

// The folder of this run, made before the peer process starts.
std::string g_folder;
constexpr size_t kSizes[] = {10000, 100000};

std::string SocketOf(const char* kind, size_t count) {
    return g_folder + "/" + kind + std::to_string(count) + ".sock";
}

// In the peer process, for each listing size: a decode peer that answers the
// client with the pre-encoded listing, and a raw peer that answers the raw
// client with the same bytes.
void ServePeers() {
    for (size_t count : kSizes) {
        std::string frame;
        zobench::AppendMessageFrame(*zobench::ListingAnswer(zobench::ListingLines(count)), frame);
        auto* decode = new zobench::MinimalPeer(SocketOf("decode", count), zobench::MinimalPeer::Mode::Decode);
        decode->SetAnswerFrame(frame);
        decode->SetCaptureFile(g_folder + "/request" + std::to_string(count) + ".frame");
        auto* raw = new zobench::MinimalPeer(SocketOf("raw", count), zobench::MinimalPeer::Mode::Raw);
        raw->SetAnswerFrame(frame);
    }
}

// The client's side for one listing size.
struct ListingPeers {
    std::vector<std::string> lines;
    size_t textBytes = 0;
    std::string answerFrame;
    ZoScsiSrvClient client;
    std::unique_ptr<zobench::RawClient> raw;
    std::string requestFrame;

    explicit ListingPeers(size_t count) : lines(zobench::ListingLines(count)) {
        for (const std::string& line : lines) textBytes += line.size() + 1;
        zobench::AppendMessageFrame(*zobench::ListingAnswer(lines), answerFrame);
        Check(zobench::AttachClient(client, "unix:" + SocketOf("decode", count), "benchclient"), "attaching");
        std::vector<LunInfo> luns;
        Check(client.ListLuns(luns, "", ""), "ListLuns");
        if (luns.size() != count) {
            std::fprintf(stderr, "the client read %zu of %zu records\n", luns.size(), count);
            std::exit(1);
        }
        requestFrame = zobench::WaitForFile(g_folder + "/request" + std::to_string(count) + ".frame");
        raw = std::make_unique<zobench::RawClient>(SocketOf("raw", count));
        raw->RoundTrip(requestFrame);
    }
};

struct ClientFixture {
    std::map<size_t, std::unique_ptr<ListingPeers>> peers;

    ListingPeers& For(size_t count) {
        std::unique_ptr<ListingPeers>& slot = peers[count];
        if (!slot) slot = std::make_unique<ListingPeers>(count);
        return *slot;
    }
};

ClientFixture& Clients() {
    static ClientFixture fixture;
    return fixture;
}

void BM_Listing_ClientSideBySide(benchmark::State& state) {
    ListingPeers& p = Clients().For(static_cast<size_t>(state.range(0)));
    Samples raw, client, rawCpu, clientCpu;
    std::vector<LunInfo> luns;
    const long faultsBefore = MinorFaults();
    for (auto _ : state) {
        const double c0 = ThreadCpuNs();
        const double t0 = zobench::NowNs();
        p.raw->RoundTrip(p.requestFrame);
        const double t1 = zobench::NowNs();
        const double c1 = ThreadCpuNs();
        if (p.client.ListLuns(luns, "", "").IsError()) state.SkipWithError("ListLuns failed");
        const double t2 = zobench::NowNs();
        const double c2 = ThreadCpuNs();
        raw.Add(t1 - t0);
        client.Add(t2 - t1);
        rawCpu.Add(c1 - c0);
        clientCpu.Add(c2 - c1);
    }
    zobench::ReportSideBySide(state, "raw", raw, "client", client);
    const double lines = static_cast<double>(p.lines.size());
    // The client's work per line: beyond the raw round trip of the same
    // bytes, in elapsed time and in this thread's CPU time (which the
    // scheduler's choices do not move).
    state.counters["client_ns_per_line"] = (client.Median() - raw.Median()) / lines;
    state.counters["client_cpu_ns_per_line"] = (clientCpu.Median() - rawCpu.Median()) / lines;
    state.counters["text_MB"] = static_cast<double>(p.textBytes) / 1e6;
    state.counters["minflt_per_call"] =
        static_cast<double>(MinorFaults() - faultsBefore) / static_cast<double>(state.iterations());
    state.counters["frame_MB"] = static_cast<double>(p.answerFrame.size()) / 1e6;
}
BENCHMARK(BM_Listing_ClientSideBySide)->Arg(10000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMillisecond);

std::vector<std::string> RegexSplit(const std::string& line) {
    static const std::regex separator("#", std::regex::ECMAScript);
    return {std::sregex_token_iterator(line.begin(), line.end(), separator, -1), std::sregex_token_iterator()};
}

void BM_Split_SideBySide(benchmark::State& state) {
    const std::vector<std::string> lines = zobench::ListingLines(10000);
    Samples regex, hand;
    size_t fields = 0;
    for (auto _ : state) {
        const double t0 = zobench::NowNs();
        for (const std::string& line : lines) fields += RegexSplit(line).size();
        const double t1 = zobench::NowNs();
        std::string_view parts[4];
        for (const std::string& line : lines) fields += ZoScsiSrvClientInternal::SplitListingLine(line, parts, 4);
        const double t2 = zobench::NowNs();
        regex.Add((t1 - t0) / static_cast<double>(lines.size()));
        hand.Add((t2 - t1) / static_cast<double>(lines.size()));
    }
    benchmark::DoNotOptimize(fields);
    state.counters["regex_ns_per_line"] = regex.Median();
    state.counters["split_ns_per_line"] = hand.Median();
    state.counters["ratio"] = hand.Median() / regex.Median();
}
BENCHMARK(BM_Split_SideBySide)->Unit(benchmark::kMillisecond);

double PerLine(const Samples& samples, size_t lines) { return samples.Median() / static_cast<double>(lines); }

void BM_Decode(benchmark::State& state) {
    ListingPeers& p = Clients().For(static_cast<size_t>(state.range(0)));
    std::string error;
    Samples samples;
    for (auto _ : state) {
        const double t0 = zobench::NowNs();
        benchmark::DoNotOptimize(zo::DecodeMessage(p.answerFrame.data() + zo::kFrameHeaderBytes,
                                                   p.answerFrame.size() - zo::kFrameHeaderBytes, zo::DecodeLimits(),
                                                   error));
        samples.Add(zobench::NowNs() - t0);
    }
    state.counters["ns_per_line"] = PerLine(samples, p.lines.size());
}
BENCHMARK(BM_Decode)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Records(benchmark::State& state) {
    ListingPeers& p = Clients().For(static_cast<size_t>(state.range(0)));
    std::vector<LunInfo> luns;
    Samples samples;
    for (auto _ : state) {
        const double t0 = zobench::NowNs();
        ZoScsiSrvClientInternal::ParseListLunOutput(p.lines, luns);
        benchmark::DoNotOptimize(luns.data());
        samples.Add(zobench::NowNs() - t0);
    }
    state.counters["ns_per_line"] = PerLine(samples, p.lines.size());
}
BENCHMARK(BM_Records)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Two instances of the real service, with 10,000 and 100,000 listing lines.
struct ServiceFixture {
    zobench::BenchFolder folder{"zo-bench-e2e"};
    zobench::RealService service{folder.path()};
    ZoScsiSrvClient small;
    ZoScsiSrvClient large;

    ServiceFixture() {
        zobench::SeedPlan plan;
        plan.lunsPerTarget = 10000;
        plan.targets = 1;
        zobench::SeedInventory(service.StateFolder("list10k"), plan);
        plan.targets = 10;
        zobench::SeedInventory(service.StateFolder("list100k"), plan);
        Check(service.Connect(small, "list10k"), "launching the 10k service");
        Check(service.Connect(large, "list100k"), "launching the 100k service");
    }
};

ServiceFixture& Services() {
    static ServiceFixture fixture;
    return fixture;
}

void BM_EndToEnd_SideBySide(benchmark::State& state) {
    ServiceFixture& f = Services();
    Samples small, large;
    std::vector<LunInfo> luns;
    size_t smallCount = 0, largeCount = 0;
    for (auto _ : state) {
        const double t0 = zobench::NowNs();
        if (f.small.ListLuns(luns, "", "").IsError()) state.SkipWithError("ListLuns failed");
        smallCount = luns.size();
        const double t1 = zobench::NowNs();
        if (f.large.ListLuns(luns, "", "").IsError()) state.SkipWithError("ListLuns failed");
        largeCount = luns.size();
        const double t2 = zobench::NowNs();
        small.Add(t1 - t0);
        large.Add(t2 - t1);
    }
    state.counters["lines_10k"] = static_cast<double>(smallCount);
    state.counters["lines_100k"] = static_cast<double>(largeCount);
    state.counters["ms_10k"] = small.Median() / 1e6;
    state.counters["ms_100k"] = large.Median() / 1e6;
    state.counters["ratio"] = large.Median() / small.Median();
}
BENCHMARK(BM_EndToEnd_SideBySide)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    zobench::SilenceLogging();
    zobench::BenchFolder folder("zo-bench-listing");
    g_folder = folder.path();
    zobench::PeerProcess peers(ServePeers);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
