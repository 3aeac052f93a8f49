// Writes through one iSCSI session as fast as a LUN takes them, with a flush
// after every batch, the way a file system commits: up to M writes of B
// blocks in flight (sequential, wrapping at the LUN's end); after every F
// writes it lets those complete, sends SYNCHRONIZE CACHE (10) and waits for
// it before the next batch. After T seconds it prints one line in the form
// libiscsi's iscsi-perf ends with, so that scripts read both alike:
//
//   iops average N (M MB/s) flushes K
//
//   bench_iscsi_write [-i INITIATOR] [-t SECONDS] [-b BLOCKS] [-m INFLIGHT] [-f FLUSH_EVERY] URL
//
// Exit 0 on success, 1 with a message on standard error.
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
}

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string initiator = "iqn.2026-12.local.zo:bench-writer";
    int seconds = 3;
    int blocks = 8;      // of 512 bytes: 4 KiB
    int inFlight = 32;
    int flushEvery = 32;
    std::string url;
};

struct Run {
    iscsi_context* iscsi = nullptr;
    int lun = 0;
    uint32_t blockSize = 512;
    uint64_t lbaCount = 0;
    uint64_t nextLba = 0;
    std::vector<unsigned char> data;
    int inFlight = 0;
    bool flushing = false;
    bool failed = false;
    uint64_t writes = 0, flushes = 0, sinceFlush = 0;
};

void Done(iscsi_context* iscsi, int status, void* command, void* privateData) {
    Run& run = *static_cast<Run*>(privateData);
    if (status != SCSI_STATUS_GOOD) {
        std::fprintf(stderr, "a command failed: %s\n", iscsi_get_error(iscsi));
        run.failed = true;
    }
    if (command) scsi_free_scsi_task(static_cast<scsi_task*>(command));
    if (run.flushing) {
        run.flushing = false;
        ++run.flushes;
        return;
    }
    --run.inFlight;
    ++run.writes;
}

bool Parse(int argc, char** argv, Options& options) {
    int c;
    while ((c = getopt(argc, argv, "i:t:b:m:f:")) != -1) {
        const int value = optarg ? std::atoi(optarg) : 0;
        switch (c) {
            case 'i': options.initiator = optarg; break;
            case 't': options.seconds = value; break;
            case 'b': options.blocks = value; break;
            case 'm': options.inFlight = value; break;
            case 'f': options.flushEvery = value; break;
            default: return false;
        }
        if (c != 'i' && value <= 0) return false;
    }
    if (optind + 1 != argc) return false;
    options.url = argv[optind];
    return true;
}

bool Connect(const Options& options, Run& run) {
    run.iscsi = iscsi_create_context(options.initiator.c_str());
    iscsi_url* url = run.iscsi ? iscsi_parse_full_url(run.iscsi, options.url.c_str()) : nullptr;
    if (!url) return false;
    iscsi_set_session_type(run.iscsi, ISCSI_SESSION_NORMAL);
    iscsi_set_header_digest(run.iscsi, ISCSI_HEADER_DIGEST_NONE);
    iscsi_set_targetname(run.iscsi, url->target);
    run.lun = url->lun;
    const bool connected = iscsi_full_connect_sync(run.iscsi, url->portal, url->lun) == 0;
    iscsi_destroy_url(url);
    if (!connected) return false;
    scsi_task* task = iscsi_readcapacity16_sync(run.iscsi, run.lun);
    if (!task || task->status != SCSI_STATUS_GOOD) return false;
    auto* capacity = static_cast<scsi_readcapacity16*>(scsi_datain_unmarshall(task));
    if (capacity) {
        run.blockSize = capacity->block_length;
        run.lbaCount = capacity->returned_lba + 1;
    }
    scsi_free_scsi_task(task);
    return capacity != nullptr;
}

// Issues what the batch still allows, or the flush once a batch is done.
bool Issue(const Options& options, Run& run) {
    if (run.flushing) return true;
    if (run.sinceFlush >= static_cast<uint64_t>(options.flushEvery)) {
        if (run.inFlight > 0) return true;
        run.sinceFlush = 0;
        run.flushing = true;
        return iscsi_synchronizecache10_task(run.iscsi, run.lun, 0, 0, 0, 0, Done, &run) != nullptr;
    }
    const uint64_t blocks = static_cast<uint64_t>(options.blocks);
    while (run.inFlight < options.inFlight && run.sinceFlush < static_cast<uint64_t>(options.flushEvery)) {
        if (run.nextLba + blocks > run.lbaCount) run.nextLba = 0;
        if (!iscsi_write16_task(run.iscsi, run.lun, run.nextLba, run.data.data(),
                                static_cast<uint32_t>(run.data.size()), static_cast<int>(run.blockSize), 0, 0, 0, 0,
                                0, Done, &run))
            return false;
        run.nextLba += blocks;
        ++run.inFlight;
        ++run.sinceFlush;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [-i INITIATOR] [-t SECONDS] [-b BLOCKS] [-m INFLIGHT] [-f FLUSH_EVERY] URL\n",
                     argv[0]);
        return 1;
    }
    Run run;
    if (!Connect(options, run)) {
        std::fprintf(stderr, "cannot log in to %s: %s\n", options.url.c_str(),
                     run.iscsi ? iscsi_get_error(run.iscsi) : "no context");
        return 1;
    }
    run.data.assign(static_cast<size_t>(options.blocks) * run.blockSize, 0x5a);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(options.seconds);
    while (!run.failed && (Clock::now() < end || run.inFlight > 0 || run.flushing)) {
        if (Clock::now() < end && !Issue(options, run)) {
            std::fprintf(stderr, "cannot queue a command: %s\n", iscsi_get_error(run.iscsi));
            return 1;
        }
        pollfd pfd{iscsi_get_fd(run.iscsi), static_cast<short>(iscsi_which_events(run.iscsi)), 0};
        if (::poll(&pfd, 1, 1000) < 0 || iscsi_service(run.iscsi, pfd.revents) < 0) {
            std::fprintf(stderr, "session failed: %s\n", iscsi_get_error(run.iscsi));
            return 1;
        }
    }
    if (run.failed) return 1;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double iops = static_cast<double>(run.writes) / seconds;
    std::printf("iops average %.0f (%.0f MB/s) flushes %llu\n", iops, iops * static_cast<double>(run.data.size()) / 1e6,
                static_cast<unsigned long long>(run.flushes));
    iscsi_logout_sync(run.iscsi);
    iscsi_destroy_context(run.iscsi);
    return 0;
}
