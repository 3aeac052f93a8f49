// One small exchange (MapHost) through the client and the framework, side by
// side with a raw round trip of exactly the same bytes over the same kind of
// socket: a unix stream socket to a peer process, as a service is.
//
//   raw        RawClient -> MinimalPeer(Raw): write the request frame, read
//              the answer frame; the peer reads and writes bytes only.
//   minimal    ZoScsiSrvClient::MapHost -> MinimalPeer(Decode): the peer
//              decodes the request and encodes the canned answer.
//   listener   ZoScsiSrvClient::MapHost -> zo::ServiceListener with a handler
//              that answers the canned answer (the framework's service side).
//   tcp, tls   the same listener on tcp:127.0.0.1 and on tls:127.0.0.1 (TLS
//              with certificates made at the start): what the transport
//              costs beside the unix socket.
//   raw_work   as raw, with the codec work of both sides but nothing else:
//              the peer spins as long as the decode peer takes to decode a
//              request and encode its answer, and the client, before each
//              exchange (untimed), as long as it takes to encode the request
//              and decode the answer. On a VM any pause of the client between
//              two exchanges lets the peer's processor fall idle, and waking
//              it then costs several microseconds more than a round trip
//              sent back to back (raw); this side shows that cost apart from
//              anything the library does.
//
// BM_Exchange_SideBySide runs them in turn, a block of each per
// iteration, and reports the medians and the ratios; the other benchmarks show each on its
// own and the codec steps that make up the difference.
//
//   bench_exchange --syscall-probe=N   runs N MapHost exchanges after a warm-up
//   and exits (scripts/bench-syscalls.sh counts the client's system calls).
#include "support/Answers.h"
#include "support/BenchFolder.h"
#include "support/MinimalPeer.h"
#include "support/PeerProcess.h"
#include "support/RawClient.h"
#include "support/SideBySide.h"
#include "TestPki.h"

#include "ZoScsiServer.h"
#include "ZoScsiSrvClient.h"
#include "zo/FrameCodec.h"
#include "zo/ServiceListener.h"
#include "zo/XmlCodec.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>

namespace {

using zobench::Check;
using zobench::MinorFaults;
using zobench::ThreadCpuNs;

namespace W = ZoScsiServer::Wire;
using zobench::Samples;

const ZoScsiSrvClientRequest::MapHostRequest& Request() {
    static const ZoScsiSrvClientRequest::MapHostRequest request(
        3, "iqn.2024-01.com.example:storage.disk1", "iqn.1994-05.com.example:client1",
        ZoScsiSrvClientRequest::RequestHeader(1, ZoScsiServer::ISCSI, 0));
    return request;
}

// The folder of this run, made before the peer process starts.
std::string g_folder;

// The decode peer's work on one request (decode it, encode the answer):
// the median over a warm run, in nanoseconds.
double PeerWorkNs(const std::string& requestFrame) {
    const std::string request = requestFrame.substr(zo::kFrameHeaderBytes);
    const std::unique_ptr<CNMessageBase> answer = zobench::SuccessAnswer(W::kMapLun2Host);
    Samples samples;
    std::string error, frame;
    for (int i = 0; i < 5000; ++i) {
        const double t0 = zobench::NowNs();
        benchmark::DoNotOptimize(zo::DecodeMessage(request.data(), request.size(), zo::DecodeLimits(), error));
        frame.clear();
        zobench::AppendMessageFrame(*answer, frame);
        if (i >= 1000) samples.Add(zobench::NowNs() - t0);
    }
    return samples.Median();
}

// The client's codec work on one exchange (encode the request, decode the
// answer): the median over a warm run, in nanoseconds.
double ClientWorkNs(const std::string& requestFrame) {
    std::string error;
    const std::unique_ptr<CNMessageBase> request =
        zo::DecodeMessage(requestFrame.data() + zo::kFrameHeaderBytes, requestFrame.size() - zo::kFrameHeaderBytes,
                          zo::DecodeLimits(), error);
    std::string answer;
    zobench::AppendMessageFrame(*zobench::SuccessAnswer(W::kMapLun2Host), answer);
    Samples samples;
    std::string out;
    for (int i = 0; i < 5000; ++i) {
        const double t0 = zobench::NowNs();
        out.clear();
        zo::EncodeMessage(*request, out);
        benchmark::DoNotOptimize(zo::DecodeMessage(answer.data() + zo::kFrameHeaderBytes,
                                                   answer.size() - zo::kFrameHeaderBytes, zo::DecodeLimits(), error));
        if (i >= 1000) samples.Add(zobench::NowNs() - t0);
    }
    return samples.Median();
}

void Spin(double nanoseconds) {
    for (const double start = zobench::NowNs(); zobench::NowNs() - start < nanoseconds;) {
    }
}

// In the peer process: the peers, serving until the process ends.
void ServePeers(const std::string& folder) {
    auto* decode = new zobench::MinimalPeer(folder + "/decode.sock", zobench::MinimalPeer::Mode::Decode);
    decode->SetAnswer(zobench::SuccessAnswer(W::kMapLun2Host));
    decode->SetCaptureFile(folder + "/request.frame");
    auto* raw = new zobench::MinimalPeer(folder + "/raw.sock", zobench::MinimalPeer::Mode::Raw);
    std::string answer;
    zobench::AppendMessageFrame(*zobench::SuccessAnswer(W::kMapLun2Host), answer);
    raw->SetAnswerFrame(answer);
    auto* rawWork = new zobench::MinimalPeer(folder + "/raw-work.sock", zobench::MinimalPeer::Mode::Raw);
    rawWork->SetAnswerFrame(answer);
    // Timed on the first request the client sends, whenever it comes (a run
    // that measures none never sends one).
    std::thread([folder, rawWork] {
        std::string request;
        while (request.empty()) {
            try {
                request = zobench::WaitForFile(folder + "/request.frame");
            } catch (const std::exception&) {
            }
        }
        const double workNs = PeerWorkNs(request);
        rawWork->SetAnswerDelay(workNs);
        zobench::WriteFileAtomically(folder + "/peer-work", std::to_string(workNs));
    }).detach();
    // The framework's listener on each transport; the TCP ones write the
    // port they were given for the client.
    for (const char* endpoint : {"unix:listener.sock", "tcp:127.0.0.1:0", "tls:127.0.0.1:0"}) {
        zo::ListenerOptions options;
        const bool unixSocket = std::strncmp(endpoint, "unix:", 5) == 0;
        options.endpoint = unixSocket ? "unix:" + folder + "/listener.sock" : endpoint;
        options.sessionId = "bench-session";
        options.tls.certFile = folder + "/pki/server.pem";
        options.tls.keyFile = folder + "/pki/server.key";
        auto* listener = new zo::ServiceListener(
            options, [](const CNMessageBase&, const zo::PeerInfo&) { return zobench::SuccessAnswer(W::kMapLun2Host); });
        Check(listener->Start(), "listening");
        if (!unixSocket)
            zobench::WriteFileAtomically(folder + "/" + std::string(endpoint, 3) + ".endpoint",
                                         listener->BoundEndpoint());
        std::thread([listener] { listener->Run(); }).detach();
    }
}

struct Fixture {
    ZoScsiSrvClient minimalClient;
    ZoScsiSrvClient listenerClient;
    ZoScsiSrvClient tcpClient;
    ZoScsiSrvClient tlsClient;
    std::unique_ptr<zobench::RawClient> raw;
    std::unique_ptr<zobench::RawClient> rawWork;
    std::string requestFrame;
    double peerWorkNs = 0;
    double clientWorkNs = 0;

    Fixture() {
        Check(zobench::AttachClient(minimalClient, "unix:" + g_folder + "/decode.sock", "benchclient"),
              "attaching to the minimal peer");
        Check(zobench::AttachClient(listenerClient, "unix:" + g_folder + "/listener.sock", "benchclient"),
              "attaching to the listener");
        Check(zobench::AttachClient(tcpClient, zobench::WaitForFile(g_folder + "/tcp.endpoint"), "benchclient"),
              "attaching to the listener over TCP");
        setenv("ZO_SERVICE_ZoScsiSrv_TLS_CA", (g_folder + "/pki/ca.pem").c_str(), 1);
        Check(zobench::AttachClient(tlsClient, zobench::WaitForFile(g_folder + "/tls.endpoint"), "benchclient"),
              "attaching to the listener over TLS");
        unsetenv("ZO_SERVICE_ZoScsiSrv_TLS_CA");
        Check(minimalClient.MapHost(Request()), "MapHost");
        // The raw side sends exactly the bytes the client sent and gets
        // exactly the bytes the peers answer.
        requestFrame = zobench::WaitForFile(g_folder + "/request.frame");
        raw = std::make_unique<zobench::RawClient>(g_folder + "/raw.sock");
        rawWork = std::make_unique<zobench::RawClient>(g_folder + "/raw-work.sock");
        peerWorkNs = std::atof(zobench::WaitForFile(g_folder + "/peer-work").c_str());
        clientWorkNs = ClientWorkNs(requestFrame);
        for (int i = 0; i < 200; ++i) {  // warm: buffers grown, pages touched
            raw->RoundTrip(requestFrame);
            rawWork->RoundTrip(requestFrame);
            Check(minimalClient.MapHost(Request()), "MapHost");
            Check(listenerClient.MapHost(Request()), "MapHost");
            Check(tcpClient.MapHost(Request()), "MapHost");
            Check(tlsClient.MapHost(Request()), "MapHost");
        }
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

// Each iteration runs a block of exchanges of each kind in turn: long enough
// for each path to run warm, short enough that load on the machine moves all
// three alike. The medians are over single exchanges.
constexpr int kBlock = 64;

void BM_Exchange_SideBySide(benchmark::State& state) {
    Fixture& f = Shared();
    Samples raw, minimal, listener, rawWork, tcp, tls;
    // Room for every sample first: the count of page faults is then the
    // exchanges' own.
    for (Samples* samples : {&raw, &minimal, &listener, &rawWork, &tcp, &tls})
        samples->Reserve(state.max_iterations * kBlock);
    const long faultsBefore = MinorFaults();
    long exchanges = 0;
    bool failed = false;
    double rawCpu = 0, minimalCpu = 0, listenerCpu = 0;  // this thread's CPU time, per block
    for (auto _ : state) {
        double c0 = ThreadCpuNs();
        for (int i = 0; i < kBlock; ++i) {
            const double t0 = zobench::NowNs();
            f.raw->RoundTrip(f.requestFrame);
            raw.Add(zobench::NowNs() - t0);
        }
        double c1 = ThreadCpuNs();
        rawCpu += c1 - c0;
        for (int i = 0; i < kBlock; ++i) {
            const double t0 = zobench::NowNs();
            failed |= f.minimalClient.MapHost(Request()).IsError();
            minimal.Add(zobench::NowNs() - t0);
        }
        c0 = ThreadCpuNs();
        minimalCpu += c0 - c1;
        for (int i = 0; i < kBlock; ++i) {
            const double t0 = zobench::NowNs();
            failed |= f.listenerClient.MapHost(Request()).IsError();
            listener.Add(zobench::NowNs() - t0);
        }
        listenerCpu += ThreadCpuNs() - c0;
        exchanges += 2 * kBlock;
        for (auto [client, samples] : {std::pair{&f.tcpClient, &tcp}, std::pair{&f.tlsClient, &tls}}) {
            for (int i = 0; i < kBlock; ++i) {
                const double t0 = zobench::NowNs();
                failed |= client->MapHost(Request()).IsError();
                samples->Add(zobench::NowNs() - t0);
            }
        }
        for (int i = 0; i < kBlock; ++i) {
            Spin(f.clientWorkNs);
            const double t0 = zobench::NowNs();
            f.rawWork->RoundTrip(f.requestFrame);
            rawWork.Add(zobench::NowNs() - t0);
        }
    }
    const long faults = MinorFaults() - faultsBefore;
    const double perKind = static_cast<double>(state.iterations()) * kBlock * 1e3;
    if (perKind > 0) {
        // The client's own CPU time per exchange (user and system): what it
        // spends, whatever the scheduler does with the waits.
        state.counters["raw_cpu_us"] = rawCpu / perKind;
        state.counters["minimal_cpu_us"] = minimalCpu / perKind;
        state.counters["listener_cpu_us"] = listenerCpu / perKind;
    }
    if (failed) state.SkipWithError("MapHost failed");
    zobench::ReportSideBySide(state, "raw", raw, "minimal", minimal, "ratio_minimal");
    zobench::ReportSideBySide(state, "raw", raw, "listener", listener, "ratio_listener");
    // What the codec work alone costs a raw exchange, and ours against that:
    // the part of the ratio that is the library's and the framework's own.
    zobench::ReportSideBySide(state, "raw", raw, "raw_work", rawWork, "ratio_raw_work");
    zobench::ReportSideBySide(state, "raw_work", rawWork, "minimal", minimal, "ratio_minimal_to_raw_work");
    // The transports side by side: the same listener on TCP and TLS against
    // the unix socket, and TLS against plain TCP.
    zobench::ReportSideBySide(state, "listener", listener, "tcp", tcp, "ratio_tcp_to_unix");
    zobench::ReportSideBySide(state, "listener", listener, "tls", tls, "ratio_tls_to_unix");
    zobench::ReportSideBySide(state, "tcp", tcp, "tls", tls, "ratio_tls_to_tcp");
    state.counters["peer_work_us"] = f.peerWorkNs / 1e3;
    state.counters["client_work_us"] = f.clientWorkNs / 1e3;
    state.counters["minflt_per_exchange"] =
        exchanges > 0 ? static_cast<double>(faults) / static_cast<double>(exchanges) : 0;
}
BENCHMARK(BM_Exchange_SideBySide)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_RawRoundTrip(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) benchmark::DoNotOptimize(f.raw->RoundTrip(f.requestFrame));
    state.counters["bytes_out"] = static_cast<double>(f.requestFrame.size());
}
BENCHMARK(BM_RawRoundTrip)->UseRealTime();

void BM_MapHost_MinimalPeer(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state)
        if (f.minimalClient.MapHost(Request()).IsError()) state.SkipWithError("MapHost failed");
}
BENCHMARK(BM_MapHost_MinimalPeer)->UseRealTime();

void BM_MapHost_Listener(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state)
        if (f.listenerClient.MapHost(Request()).IsError()) state.SkipWithError("MapHost failed");
}
BENCHMARK(BM_MapHost_Listener)->UseRealTime();

// The codec steps of one exchange, without any I/O.
void BM_Codec_EncodeRequest(benchmark::State& state) {
    Fixture& f = Shared();
    std::string error;
    const auto decoded = zo::DecodeMessage(f.requestFrame.data() + zo::kFrameHeaderBytes,
                                           f.requestFrame.size() - zo::kFrameHeaderBytes, zo::DecodeLimits(), error);
    std::string out;
    for (auto _ : state) {
        out.clear();
        zo::EncodeMessage(*decoded, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_Codec_EncodeRequest);

void BM_Codec_DecodeRequest(benchmark::State& state) {
    Fixture& f = Shared();
    std::string error;
    for (auto _ : state)
        benchmark::DoNotOptimize(zo::DecodeMessage(f.requestFrame.data() + zo::kFrameHeaderBytes,
                                                   f.requestFrame.size() - zo::kFrameHeaderBytes, zo::DecodeLimits(),
                                                   error));
}
BENCHMARK(BM_Codec_DecodeRequest);

void BM_Codec_DecodeAnswer(benchmark::State& state) {
    std::string frame;
    zobench::AppendMessageFrame(*zobench::SuccessAnswer(W::kMapLun2Host), frame);
    std::string error;
    for (auto _ : state)
        benchmark::DoNotOptimize(zo::DecodeMessage(frame.data() + zo::kFrameHeaderBytes,
                                                   frame.size() - zo::kFrameHeaderBytes, zo::DecodeLimits(), error));
}
BENCHMARK(BM_Codec_DecodeAnswer);

int SyscallProbe(long count) {
    Fixture& f = Shared();
    for (long i = 0; i < count; ++i) Check(f.minimalClient.MapHost(Request()), "MapHost");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    zobench::SilenceLogging();
    zobench::BenchFolder folder("zo-bench-exchange");
    g_folder = folder.path();
    std::string pkiError;
    if (mkdir((g_folder + "/pki").c_str(), 0700) != 0 || !zotest::MakeTestPki(g_folder + "/pki", pkiError)) {
        std::fprintf(stderr, "bench_exchange: %s\n", pkiError.c_str());
        return 1;
    }
    zobench::PeerProcess peers([&] { ServePeers(folder.path()); });
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--syscall-probe=", 16) == 0) return SyscallProbe(std::atol(argv[i] + 16));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
