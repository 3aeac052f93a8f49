// The whole road: the client library launches zoscsisrv with Backend=tgt,
// which starts its own tgtd on a private control port and loopback portal;
// libiscsi's initiator checks what each host sees after each operation.
#include "TgtdHarness.h"
#include "backend/tgt/TgtLayout.h"
#include "service/TempFolder.h"
#include "LogWriter.h"
#include "ZoScsiSrvClient.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#ifndef ZOSCSISRV_PATH
#error "ZOSCSISRV_PATH names the service program"
#endif

using namespace ZoScsiSrvClientRequest;

namespace {

const std::string kPrefix = "iqn.2026-12.svc.zo";
const std::string kHostA = "iqn.2026-12.test.zo:svc-host-a";
const std::string kHostB = "iqn.2026-12.test.zo:svc-host-b";

std::string Text(const CYbError& error) { return error.IsError() ? error.ToString() : "success"; }

#define ASSERT_OK(call)                                                     \
    do {                                                                    \
        const CYbError result_ = (call);                                    \
        ASSERT_FALSE(result_.IsError()) << #call << ": " << Text(result_); \
    } while (0)

class ServiceEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = TgtdHarness::SkipReason();
        if (!why.empty()) GTEST_SKIP() << why;
        tgtd.PickPorts();
        std::ofstream(root / "zo.conf") << "[OnDemandServices]\nZoScsiSrv = " << ZOSCSISRV_PATH << "\n\n"
                                        << "[ZoScsiSrv]\nIdleExitSeconds = 120\nBackend = tgt\n"
                                        << "TgtIqnPrefix = " << kPrefix << "\n"
                                        << "TgtPortal = " << tgtd.portal() << "\n"
                                        << "TgtControlPort = " << tgtd.controlPort() << "\n"
                                        << "TgtStartDaemon = true\nTgtStopOnExit = true\n"
                                        << "TgtClaimDir = " << (root / "claims") << "\n";
        ::setenv("ZO_CONFIG", (root / "zo.conf").c_str(), 1);
        ::setenv("ZO_RUNTIME_DIR", (root / "run").c_str(), 1);
        ::setenv("ZO_STATE_DIR", (root / "state").c_str(), 1);
        g_ptrLogWriter.reset(new StderrLogWriter(-1));
    }

    void TearDown() override {
        const pid_t pid = ServicePid();
        if (pid > 0 && ::kill(pid, SIGTERM) == 0)
            for (int i = 0; i < 300 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const pid_t left = tgtd.FindOtherTgtd();  // only ever the one on our private control port
        if (left > 0) ::kill(left, SIGKILL);
    }

    pid_t ServicePid() const {
        std::ifstream lock(root / ("state/" + client + "/zoscsisrv.lock"));
        long pid = 0;
        lock >> pid;
        return static_cast<pid_t>(pid);
    }

    // Adds target disk1; the request of a 64 MiB LUN in it.
    static CreateLunRequest Disk1(ZoScsiSrvClient& service) {
        CreateTargetRequest target;
        target.targetName = "disk1";
        const CYbError added = service.AddTarget(target);
        EXPECT_FALSE(added.IsError()) << Text(added);
        CreateLunRequest lun;
        lun.targetName = "disk1";
        lun.options = "-s 64M";
        return lun;
    }

    std::string Iqn(const std::string& target, const std::string& host) const {
        return zoscsi::tgt::TargetIqn({kPrefix, client, ""}, target, host);
    }
    bool Sees(const std::string& host, const std::string& target, int lun) const {
        return CapacityBytes(host, tgtd.url() + "/" + Iqn(target, host) + "/" + std::to_string(lun)) == (64ll << 20);
    }
    bool SeesAnything(const std::string& host) const {
        return Discover(host, tgtd.url()).find(kPrefix + ":") != std::string::npos;
    }

    TempFolder root;
    TgtdHarness tgtd;
    std::string client = "svc" + std::to_string(::getpid());
};

}  // namespace

TEST_F(ServiceEndToEnd, TheServiceExportsWhatItsInventorySays) {
    ZoScsiSrvClient service;
    ASSERT_OK(service.Initialize(client, "zod", 0));
    ASSERT_OK(service.StartScsiService(StartServiceRequest(RequestHeader(1, ZoScsiServer::ISCSI, 0))));

    CreateLunRequest lun = Disk1(service);
    std::string name;
    int32_t id = -1;
    ASSERT_OK(service.CreateLun(lun, name, id));
    ASSERT_EQ(id, 1);
    EXPECT_FALSE(SeesAnything(kHostA));

    ASSERT_OK(service.MapHost(MapHostRequest(1, "disk1", kHostA, RequestHeader(1, ZoScsiServer::ISCSI, 0))));
    EXPECT_TRUE(Sees(kHostA, "disk1", 1)) << Discover(kHostA, tgtd.url());
    EXPECT_FALSE(SeesAnything(kHostB));

    RemapHostRequest remap;
    remap.targetName = "disk1";
    remap.lunId = 1;
    remap.fromHostName = kHostA;
    remap.toHostName = kHostB;
    ASSERT_OK(service.RemapLun2Host(remap));
    EXPECT_TRUE(Sees(kHostB, "disk1", 1));
    EXPECT_FALSE(SeesAnything(kHostA));

    // A LUN whose data went missing is refused, not exported blank, and stays closed.
    CloseLunRequest close;
    close.header = RequestHeader(1, ZoScsiServer::ISCSI, 1);
    close.targetName = "disk1";
    close.lunId = 1;
    ASSERT_OK(service.CloseLun(close));
    EXPECT_FALSE(SeesAnything(kHostB));
    const std::string file = root / ("state/" + client + "/luns/disk1/1.img");
    ASSERT_EQ(std::rename(file.c_str(), (file + ".away").c_str()), 0);
    OpenLunRequest open;
    open.targetName = "disk1";
    open.lunId = 1;
    const CYbError refused = service.OpenLun(open, name);
    ASSERT_TRUE(refused.IsError());
    EXPECT_NE(Text(refused).find("missing"), std::string::npos) << Text(refused);
    EXPECT_FALSE(SeesAnything(kHostB));
    ASSERT_EQ(std::rename((file + ".away").c_str(), file.c_str()), 0);
    ASSERT_OK(service.OpenLun(open, name));
    EXPECT_TRUE(Sees(kHostB, "disk1", 1));

    // tgtd dies; the reload starts another and puts everything back.
    const pid_t first = tgtd.FindOtherTgtd();
    ASSERT_GT(first, 0);
    ::kill(first, SIGKILL);
    for (int i = 0; i < 100 && SeesAnything(kHostB); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_OK(service.ReloadConfiguration("reload"));
    EXPECT_TRUE(Sees(kHostB, "disk1", 1)) << Discover(kHostB, tgtd.url());
    EXPECT_FALSE(SeesAnything(kHostA));
}

// kill -9 of the service and of its tgtd: the next command launches the
// service, which answers at once and restores its exports in the
// background; that first command waits for the restore and succeeds. A
// deleted LUN's file is gone when the deletion is answered.
TEST_F(ServiceEndToEnd, TheFirstCommandAfterACrashOfServiceAndTgtdSucceeds) {
    ZoScsiSrvClient service;
    ASSERT_OK(service.Initialize(client, "zod", 0));
    CreateLunRequest lun = Disk1(service);
    std::string name;
    int32_t id = -1;
    for (int i = 1; i <= 20; ++i) {  // 42 requests to restore: more than a start makes before it answers
        ASSERT_OK(service.CreateLun(lun, name, id));
        ASSERT_OK(service.MapHost(MapHostRequest(id, "disk1", kHostA, RequestHeader(1, ZoScsiServer::ISCSI, 0))));
    }
    ASSERT_OK(service.CreateLun(lun, name, id));
    DeleteLunRequest remove;
    remove.targetName = "disk1";
    remove.lunId = id;
    ASSERT_OK(service.DeleteLun(remove));
    const std::string file = root / ("state/" + client + "/luns/disk1/" + std::to_string(id) + ".img");
    EXPECT_NE(::access(file.c_str(), F_OK), 0);
    EXPECT_NE(::access((file + ".deleted").c_str(), F_OK), 0) << "the data is gone with the answer";

    const pid_t tgtdPid = tgtd.FindOtherTgtd();
    ASSERT_GT(tgtdPid, 0);
    ::kill(ServicePid(), SIGKILL);
    ::kill(tgtdPid, SIGKILL);
    for (int i = 0; i < 500 && (::kill(tgtdPid, 0) == 0 || tgtd.FindOtherTgtd() > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(Sees(kHostA, "disk1", 1));

    ZoScsiSrvClient again;
    ASSERT_OK(again.Initialize(client, "zod", 0));
    ASSERT_OK(again.CreateLun(lun, name, id));
    ASSERT_OK(again.MapHost(MapHostRequest(id, "disk1", kHostA, RequestHeader(1, ZoScsiServer::ISCSI, 0))));
    std::vector<std::string> status;
    ASSERT_OK(again.ListLuns("status", "", status));
    EXPECT_NE(std::find(status.begin(), status.end(), "backend-state=ready"), status.end());
    EXPECT_TRUE(Sees(kHostA, "disk1", 1));
    EXPECT_TRUE(Sees(kHostA, "disk1", 20));
    EXPECT_TRUE(Sees(kHostA, "disk1", id));
}
