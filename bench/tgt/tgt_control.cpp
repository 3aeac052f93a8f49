// The tgt backend's control plane: the service (the library against a
// zoscsisrv with Backend=tgt and a tgtd of its own) beside the same exports
// made by hand with tgtadm on a private tgtd, side by side in one run. Root
// only. Each mode prints one line of key=value pairs per measurement.
//
//   --mode ops [--ops N]
//       create + map a LUN to a host that has LUNs of the target already,
//       and to a new host: the medians of ours (two calls of the library)
//       and by hand (the file, then tgtadm: new logicalunit and its identity;
//       for a new host also new target and bind), and the tgtadm calls each
//       makes per operation (ours counted from the service's tracing log).
//   --mode restore --luns N [--workers W] [--rounds R] [--sweep yes]
//       N LUNs in N/50 targets, one host each: the service and its tgtd are
//       killed with SIGKILL, then the time until the restarted service has
//       every export back (its first change, sent at once, must succeed),
//       against tgtd restarted by hand and the same exports made by one
//       tgtadm after another, with and without the LUNs' identity, and split
//       by target over W tgtadm at once; medians of R rounds. With --sweep,
//       the service's restore again with 1, 2, 4 and 8 tgtadm at once;
//       with --hand 0, the service alone.
//   --mode seed --luns N --versus V [--ops K]
//       create + map through the service with N and with V LUNs exported
//       (two instances, two tgtds), in alternating blocks: ops/s and ratio.
#include "support/BenchFolder.h"
#include "support/PrivateTgtd.h"
#include "support/RealService.h"
#include "support/Samples.h"
#include "support/SeedInventory.h"

#include "backend/tgt/TgtAdm.h"
#include "ZoScsiSrvClient.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using zoscsi::tgt::TgtCommand;
using Op = TgtCommand::Op;
using Request = ZoScsiSrvClientRequest::RequestHeader;

constexpr const char* kPrefix = "iqn.2026-12.bench.zo";
constexpr int kLunsPerPairTarget = 50;

struct Options {
    std::string mode;
    int ops = 40;
    int luns = 1000;
    int versus = 0;
    int workers = 8;
    int rounds = 1;
    int hand = 1;  // 0: ours alone (a size where the hand-made runs would take minutes)
    bool sweep = false;
};

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--mode") {
            options.mode = argv[i + 1];
            continue;
        }
        if (key == "--sweep") {
            options.sweep = std::strcmp(argv[i + 1], "yes") == 0;
            continue;
        }
        if (key == "--hand") {
            options.hand = std::atoi(argv[i + 1]) != 0;
            continue;
        }
        const int value = std::atoi(argv[i + 1]);
        if (value <= 0) return false;
        if (key == "--ops") options.ops = value;
        else if (key == "--luns") options.luns = value;
        else if (key == "--versus") options.versus = value;
        else if (key == "--workers") options.workers = value;
        else if (key == "--rounds") options.rounds = value;
        else return false;
    }
    return argc % 2 == 1 && !options.mode.empty();
}

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "bench_tgt_control: %s\n", what.c_str());
    std::exit(1);
}

double Seconds(double fromNs) { return (zobench::NowNs() - fromNs) / 1e9; }

// The control ports of the services' own tgtds. tgtd leaves its socket
// files behind when it exits; they go with this program, as does a tgtd
// that a failed run left.
struct ServiceTgtds {
    std::vector<int> ports;
    ~ServiceTgtds() {
        for (const int port : ports) zobench::KillTgtd(port);
    }
};
ServiceTgtds g_serviceTgtds;

// A control port for a service's own tgtd, which goes with this program.
int ServiceControlPort() {
    const int control = zobench::FreeControlPort();
    g_serviceTgtds.ports.push_back(control);
    return control;
}

// The [ZoScsiSrv] settings of a service that starts its own tgtd on
// `control` and `portal`.
std::string TgtSettings(const std::string& root, int workers, int control, int portal) {
    return "Backend = tgt\nTgtIqnPrefix = " + std::string(kPrefix) + "\nTgtControlPort = " +
           std::to_string(control) + "\nTgtPortal = 127.0.0.1:" + std::to_string(portal) +
           "\nTgtStartDaemon = true\nTgtStopOnExit = true\nTgtClaimDir = " + root +
           "/claims\nTgtParallelCalls = " + std::to_string(workers) + "\nTgtRestoreWaitMs = 600000\nIdleExitSeconds = 600\n";
}

// The same on ports of its own.
std::string TgtSettings(const std::string& root, int workers) {
    return TgtSettings(root, workers, ServiceControlPort(), zobench::FreePortalPort());
}

// A sparse file of 1 MiB, as an operator makes one (no sync).
void MakeFile(const std::string& path) {
    if (!zobench::MakeSparseFile(path, 1 << 20)) Die("cannot make " + path);
}

std::string Status(ZoScsiSrvClient& client, const std::string& key) {
    std::vector<std::string> lines;
    if (client.ListLuns("status", "", lines).IsError()) return "";
    for (const std::string& line : lines)
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    return "";
}

long ServicePid(const zobench::RealService& service, const std::string& client) {
    std::ifstream in(service.InstanceFolder(client) + "/pid");
    long pid = 0;
    in >> pid;
    return pid;
}

// Lines of the instance's log that hold `needle`.
size_t LogLines(const zobench::RealService& service, const std::string& client, const std::string& needle) {
    std::ifstream in(service.InstanceFolder(client) + "/service.log");
    std::string line;
    size_t count = 0;
    while (std::getline(in, line)) count += line.find(needle) != std::string::npos;
    return count;
}

// The tgtadm calls and milliseconds of the last restore the log tells of
// ("exports restored: N tgtadm calls in M ms").
std::pair<long, long> RestoreCalls(const zobench::RealService& service, const std::string& client) {
    std::ifstream in(service.InstanceFolder(client) + "/service.log");
    std::string line;
    std::pair<long, long> found{-1, -1};
    while (std::getline(in, line)) {
        const size_t at = line.find("exports restored: ");
        const size_t in = line.find(" calls in ");
        if (at == std::string::npos || in == std::string::npos) continue;
        found = {std::atol(line.c_str() + at + std::strlen("exports restored: ")), std::atol(line.c_str() + in + 10)};
    }
    return found;
}

CYbError CreateLun(ZoScsiSrvClient& client, const std::string& target, int32_t& id) {
    ZoScsiSrvClientRequest::CreateLunRequest request;
    request.targetName = target;
    request.options = "-s 1M";
    std::string name;
    return client.CreateLun(request, name, id);
}

CYbError Map(ZoScsiSrvClient& client, const std::string& target, int32_t id, const std::string& host) {
    return client.MapHost(ZoScsiSrvClientRequest::MapHostRequest(id, target, host, Request(1, ZoScsiServer::ISCSI, 0)));
}

CYbError Unmap(ZoScsiSrvClient& client, const std::string& target, int32_t id, const std::string& host) {
    return client.UnmapHost(ZoScsiSrvClient::UnmapHostRequest(id, target, host, Request(1, ZoScsiServer::ISCSI, 0)));
}

CYbError DeleteLun(ZoScsiSrvClient& client, const std::string& target, int32_t id) {
    ZoScsiSrvClientRequest::DeleteLunRequest request;
    request.lunId = id;
    request.targetName = target;
    return client.DeleteLun(request);
}

// Returns the nanoseconds of the creation alone.
double CreateAndMap(ZoScsiSrvClient& client, const std::string& target, const std::string& host) {
    int32_t id = 0;
    const double t0 = zobench::NowNs();
    zobench::Check(CreateLun(client, target, id), "CreateLun");
    const double created = zobench::NowNs() - t0;
    zobench::Check(Map(client, target, id, host), "MapHost");
    return created;
}

// One flush of the disk the state folder is on: a 4 KiB write and fsync.
double FlushNs(const std::string& folder) {
    const std::string path = folder + "/flush-probe";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return 0;
    char block[4096] = {};
    zobench::Samples samples;
    for (int i = 0; i < 20; ++i) {
        const double t0 = zobench::NowNs();
        if (::pwrite(fd, block, sizeof block, i * 4096) < 0 || ::fsync(fd) != 0) break;
        samples.Add(zobench::NowNs() - t0);
    }
    ::close(fd);
    ::unlink(path.c_str());
    return samples.Median();
}

// ---- by hand ------------------------------------------------------------

// The requests an operator types to export `luns` files on target `tid`
// (made first when `newTarget`) to `host`; with `identity`, each LUN gets
// the same SCSI identity for every host, as the service gives it.
std::vector<TgtCommand> HandExport(int tid, bool newTarget, const std::string& host,
                                   const std::vector<std::pair<int, std::string>>& luns, bool identity) {
    std::vector<TgtCommand> commands;
    if (newTarget) commands.push_back(TgtCommand::Of(Op::NewTarget, tid, 0, "iqn.2026-12.bench.hand:t" + std::to_string(tid)));
    for (const auto& [lun, path] : luns) {
        commands.push_back(TgtCommand::Of(Op::NewLun, tid, lun, path));
        if (identity) {
            char serial[17];
            std::snprintf(serial, sizeof serial, "%016x", tid * 100000 + lun);
            commands.push_back(TgtCommand::Of(Op::SetLunIdentity, tid, lun, serial));
        }
    }
    if (newTarget) commands.push_back(TgtCommand::Of(Op::BindInitiator, tid, 0, host));
    return commands;
}

void RunByHand(const zoscsi::tgt::TgtAdm& adm, const std::vector<TgtCommand>& commands) {
    for (const TgtCommand& command : commands) {
        const zoscsi::tgt::TgtAdmResult result = adm.Run(command);
        if (!result.ok) Die(result.text);
    }
}

// Each target's requests in order, `workers` targets at a time (as with
// xargs -P over one script per target).
void RunByHandAtOnce(const zoscsi::tgt::TgtAdm& adm, const std::vector<std::vector<TgtCommand>>& perTarget,
                     int workers) {
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&] {
            for (size_t t = next++; t < perTarget.size(); t = next++) RunByHand(adm, perTarget[t]);
        });
    for (std::thread& thread : threads) thread.join();
}

zoscsi::tgt::TgtAdm AdmOn(int control) {
    return zoscsi::tgt::TgtAdm({"/usr/sbin/tgtadm", control, std::chrono::milliseconds(30000)});
}

// ---- modes ----------------------------------------------------------------

int Ops(const Options& options, const std::string& root) {
    zobench::RealService service(root, TgtSettings(root, options.workers));
    ZoScsiSrvClient client;
    zobench::Check(service.Connect(client, "ops"), "launching the service");
    ZoScsiSrvClientRequest::CreateTargetRequest target;
    target.targetName = "ops";
    zobench::Check(client.AddTarget(target), "AddTarget");
    const std::string known = "iqn.1994-05.com.example:known";
    CreateAndMap(client, "ops", known);  // the known host's tgt target exists from here on

    zobench::PrivateTgtd hand;
    std::string error;
    if (!hand.Start(error)) Die("hand tgtd: " + error);
    const zoscsi::tgt::TgtAdm adm = AdmOn(hand.control());
    RunByHand(adm, HandExport(1, true, known, {}, true));
    const std::string files = root + "/hand";

    zobench::Samples oursKnown, oursCreate, handKnown, oursNew, handNew;
    for (int i = 0; i < options.ops; ++i) {
        double t0 = zobench::NowNs();
        oursCreate.Add(CreateAndMap(client, "ops", known));
        oursKnown.Add(zobench::NowNs() - t0);
        t0 = zobench::NowNs();
        const std::string path = files + "/k" + std::to_string(i) + ".img";
        MakeFile(path);
        RunByHand(adm, HandExport(1, false, known, {{i + 1, path}}, true));
        handKnown.Add(zobench::NowNs() - t0);

        const std::string host = "iqn.1994-05.com.example:new" + std::to_string(i);
        t0 = zobench::NowNs();
        CreateAndMap(client, "ops", host);
        oursNew.Add(zobench::NowNs() - t0);
        t0 = zobench::NowNs();
        const std::string newPath = files + "/n" + std::to_string(i) + ".img";
        MakeFile(newPath);
        RunByHand(adm, HandExport(i + 2, true, host, {{1, newPath}}, true));
        handNew.Add(zobench::NowNs() - t0);
    }
    std::printf("row=create_map_known_host ours_ms=%.2f hand_ms=%.2f ratio=%.2f ours_create_ms=%.2f "
                "disk_flush_ms=%.2f ops=%d\n",
                oursKnown.Median() / 1e6, handKnown.Median() / 1e6, oursKnown.Median() / handKnown.Median(),
                oursCreate.Median() / 1e6, FlushNs(service.StateFolder("ops")) / 1e6, options.ops);
    std::printf("row=create_map_new_host ours_ms=%.2f hand_ms=%.2f ratio=%.2f ops=%d\n", oursNew.Median() / 1e6,
                handNew.Median() / 1e6, oursNew.Median() / handNew.Median(), options.ops);

    // The calls: a second instance that logs every tgtadm run (tracing level).
    ::setenv("ZO_LOG_LEVEL", "2", 1);
    ZoScsiSrvClient counted;
    zobench::Check(service.Connect(counted, "count"), "launching the counted service");
    ::setenv("ZO_LOG_LEVEL", "-2", 1);
    zobench::Check(counted.AddTarget(target), "AddTarget");
    CreateAndMap(counted, "ops", known);
    const char* kCall = "TgtAdm::Run";
    // Create alone, map to the known host, map to a new host, unmap, delete: each counted on its own.
    auto measure = [&](const std::function<void()>& op) {
        const size_t before = LogLines(service, "count", kCall);
        op();
        return LogLines(service, "count", kCall) - before;
    };
    int32_t a = 0, b = 0;
    const size_t create = measure([&] { zobench::Check(CreateLun(counted, "ops", a), "CreateLun"); });
    const size_t mapKnown = measure([&] { zobench::Check(Map(counted, "ops", a, known), "MapHost"); });
    zobench::Check(CreateLun(counted, "ops", b), "CreateLun");
    const size_t mapNew = measure([&] { zobench::Check(Map(counted, "ops", b, "iqn.1994-05.com.example:x"), "MapHost"); });
    const size_t unmapLast =
        measure([&] { zobench::Check(Unmap(counted, "ops", b, "iqn.1994-05.com.example:x"), "UnmapHost"); });
    const size_t remove = measure([&] { zobench::Check(DeleteLun(counted, "ops", b), "DeleteLun"); });
    std::printf("row=tgtadm_calls create_lun=%zu map_known_host=%zu map_new_host=%zu unmap_last_lun=%zu delete_lun=%zu "
                "hand_map_known_host=2 hand_map_new_host=4 hand_map_known_host_without_identity=1\n",
                create, mapKnown, mapNew, unmapLast, remove);
    service.StopAll();
    return 0;
}

// `luns` LUNs in targets of kLunsPerPairTarget, each target's LUNs mapped to one host of its own.
zobench::SeedPlan PairPlan(int luns) {
    zobench::SeedPlan plan;
    plan.targets = std::max(1, luns / kLunsPerPairTarget);
    plan.lunsPerTarget = luns / plan.targets;
    plan.hostsPerLun = 1;
    plan.hostPerTarget = true;
    plan.targetPrefix = "pair";
    return plan;
}

void SeedWithFiles(const std::string& folder, const zobench::SeedPlan& plan) {
    zobench::SeedInventory(folder, plan);
    try {
        zobench::SeedLunFiles(folder, plan);
    } catch (const std::runtime_error& failure) {
        Die(failure.what());
    }
}

// Waits until the instance says its backend is ready; the seconds it took.
double UntilReady(ZoScsiSrvClient& client, double fromNs) {
    std::string state;
    for (int i = 0; i < 60000; ++i) {
        state = Status(client, "backend-state");
        if (state == "ready") return Seconds(fromNs);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Die("the backend is not ready after 300 s: " + state);
}

struct Restored {
    double ready = 0, launched = 0, firstChange = 0, apply = 0;
    long calls = 0;
};

// kill -9 of the service and its tgtd, then a client launches the service
// again and sends its first change at once; another watches the status
// until the backend is ready. The change is undone afterwards.
Restored KillAndRestore(zobench::RealService& service, const zobench::SeedPlan& plan, int control, int luns) {
    ::kill(static_cast<pid_t>(ServicePid(service, "restore")), SIGKILL);
    zobench::KillTgtd(control);
    Restored took;
    const double t0 = zobench::NowNs();
    ZoScsiSrvClient client;
    ::setenv("ZO_LOG_LEVEL", "1", 1);  // the restore's own line: its tgtadm calls and time
    zobench::Check(service.Connect(client, "restore"), "launching the service again");
    ::setenv("ZO_LOG_LEVEL", "-2", 1);
    took.launched = Seconds(t0);
    std::thread watcher([&] {
        ZoScsiSrvClient status;
        zobench::Check(service.Connect(status, "restore"), "connecting a watcher");
        took.ready = UntilReady(status, t0);
    });
    const std::string target = zobench::SeedTargetName(plan, 0), host = zobench::SeedHostName(0);
    int32_t id = 0;
    zobench::Check(CreateLun(client, target, id), "the first change");
    zobench::Check(Map(client, target, id, host), "the first change");
    took.firstChange = Seconds(t0);
    watcher.join();
    const int back = zobench::ExportedLuns(control);
    if (back != luns + 1) Die("after the restore tgtd exports " + std::to_string(back) + " LUNs, not " + std::to_string(luns + 1));
    const std::pair<long, long> restore = RestoreCalls(service, "restore");
    took.calls = restore.first;
    took.apply = static_cast<double>(restore.second) / 1e3;
    zobench::Check(Unmap(client, target, id, host), "UnmapHost");
    zobench::Check(DeleteLun(client, target, id), "DeleteLun");
    return took;
}

int Restore(const Options& options, const std::string& root) {
    const zobench::SeedPlan plan = PairPlan(options.luns);
    const int luns = plan.targets * plan.lunsPerTarget;
    const int control = ServiceControlPort(), portal = zobench::FreePortalPort();
    zobench::RealService service(root, TgtSettings(root, options.workers, control, portal));
    SeedWithFiles(service.StateFolder("restore"), plan);
    {
        ZoScsiSrvClient first;
        zobench::Check(service.Connect(first, "restore"), "launching the service");
        UntilReady(first, zobench::NowNs());
    }
    if (zobench::ExportedLuns(control) != luns) Die("the first start did not export every LUN");

    // By hand: tgtd started again, then the same exports.
    std::vector<std::vector<TgtCommand>> withIdentity, bare;
    for (int t = 0; t < plan.targets; ++t) {
        std::vector<std::pair<int, std::string>> files;
        for (int id = 1; id <= plan.lunsPerTarget; ++id)
            files.emplace_back(id, zobench::SeedLunPath(service.StateFolder("restore"), plan, t, id));
        withIdentity.push_back(HandExport(t + 1, true, zobench::SeedHostName(t), files, true));
        bare.push_back(HandExport(t + 1, true, zobench::SeedHostName(t), files, false));
    }
    auto calls = [](const std::vector<std::vector<TgtCommand>>& script) {
        size_t n = 0;
        for (const auto& target : script) n += target.size();
        return n;
    };
    auto byHand = [&](const std::vector<std::vector<TgtCommand>>& script, int workers) {
        zobench::PrivateTgtd hand;
        std::string error;
        const double start = zobench::NowNs();
        if (!hand.Start(error)) Die("hand tgtd: " + error);
        RunByHandAtOnce(AdmOn(hand.control()), script, workers);
        const double took = Seconds(start);
        if (zobench::ExportedLuns(hand.control()) != luns) Die("the hand-made restore is incomplete");
        return took;
    };

    // Rounds of all sides in turn, so that a machine whose load drifts moves all alike.
    zobench::Samples ours, launched, firstChange, apply, handSeq, handBare, handAtOnce;
    long oursCalls = 0;
    for (int round = 0; round < options.rounds; ++round) {
        const Restored took = KillAndRestore(service, plan, control, luns);
        ours.Add(took.ready);
        launched.Add(took.launched);
        firstChange.Add(took.firstChange);
        apply.Add(took.apply);
        oursCalls = took.calls;
        zobench::KillTgtd(control);  // thousands of threads: one such tgtd at a time
        if (!options.hand) continue;
        handSeq.Add(byHand(withIdentity, 1));
        handBare.Add(byHand(bare, 1));
        handAtOnce.Add(byHand(withIdentity, options.workers));
    }
    std::printf("row=restore luns=%d targets=%d rounds=%d ours_s=%.2f launch_s=%.2f first_change_s=%.2f ours_calls=%ld "
                "ours_apply_s=%.2f hand_s=%.2f hand_calls=%zu ratio=%.2f hand_without_identity_s=%.2f hand_without_identity_calls=%zu "
                "ratio_without_identity=%.2f hand_at_once_s=%.2f ratio_at_once=%.2f workers=%d\n",
                luns, plan.targets, options.rounds, ours.Median(), launched.Median(), firstChange.Median(), oursCalls,
                apply.Median(), handSeq.Median(), calls(withIdentity), ours.Median() / handSeq.Median(), handBare.Median(), calls(bare),
                ours.Median() / handBare.Median(), handAtOnce.Median(), ours.Median() / handAtOnce.Median(), options.workers);

    if (options.sweep) {
        // What parallelism tgtd takes: the same restore with W tgtadm at once.
        std::string line = "row=restore_workers luns=" + std::to_string(luns);
        for (int workers : {1, 2, 4, 8}) {
            service.Configure(TgtSettings(root, workers, control, portal));
            char field[64];
            std::snprintf(field, sizeof field, " w%d_s=%.2f", workers, KillAndRestore(service, plan, control, luns).ready);
            line += field;
        }
        std::printf("%s\n", line.c_str());
    }
    service.StopAll();
    zobench::KillTgtd(control);
    return 0;
}

int Seed(const Options& options, const std::string& root) {
    struct Side {
        std::unique_ptr<zobench::RealService> service;
        ZoScsiSrvClient client;
        zobench::SeedPlan plan;
        zobench::Samples times;
        int made = 0;
    };
    Side small, large;
    auto prepare = [&](Side& side, const std::string& name, int luns) {
        const std::string folder = root + "/" + name;
        std::filesystem::create_directories(folder);
        side.service = std::make_unique<zobench::RealService>(folder, TgtSettings(folder, options.workers));
        side.plan = PairPlan(luns);
        SeedWithFiles(side.service->StateFolder("seed"), side.plan);
        zobench::Check(side.service->Connect(side.client, "seed"), "launching the service");
        UntilReady(side.client, zobench::NowNs());
    };
    prepare(small, "small", options.luns);
    prepare(large, "large", options.versus);
    constexpr int kBlock = 10;
    for (int done = 0; done < options.ops; done += kBlock)
        for (Side* side : {&small, &large})
            for (int i = 0; i < kBlock; ++i) {
                const double t0 = zobench::NowNs();
                CreateAndMap(side->client, zobench::SeedTargetName(side->plan, 0), zobench::SeedHostName(0));
                side->times.Add(zobench::NowNs() - t0);
            }
    const double smallRate = 1e9 / small.times.Median(), largeRate = 1e9 / large.times.Median();
    std::printf("row=seed luns=%d ops_per_s=%.1f versus_luns=%d versus_ops_per_s=%.1f ratio=%.2f ops=%d\n",
                small.plan.targets * small.plan.lunsPerTarget, smallRate, large.plan.targets * large.plan.lunsPerTarget,
                largeRate, smallRate / largeRate, options.ops);
    small.service->StopAll();
    large.service->StopAll();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options) || (options.mode == "seed" && options.versus == 0)) {
        std::fprintf(stderr, "usage: bench_tgt_control --mode ops|restore|seed [--ops N] [--luns N] [--versus V] "
                             "[--workers W] [--rounds R] [--hand 0] [--sweep yes]\n");
        return 2;
    }
    if (::geteuid() != 0) Die("needs root (tgtd)");
    ::signal(SIGPIPE, SIG_IGN);
    zobench::SilenceLogging();
    zobench::BenchFolder folder("zo-bench-tgt");
    if (options.mode == "ops") return Ops(options, folder.path());
    if (options.mode == "restore") return Restore(options, folder.path());
    if (options.mode == "seed") return Seed(options, folder.path());
    Die("unknown mode " + options.mode);
}
