// ZoScsiSrvStart: the configuration check, the launch for this node's mangled
// name, the start request, the fixed log lines, and no client left behind.
#include "ZoScsiSrvStart.h"

#include "client/ScriptedService.h"

#include "FXErrorUtil.h"
#include "ZODebugFunction.h"
#include "ZOPlatformInfo.h"
#include "support/CaptureLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include <unistd.h>

namespace {

const char* const kFunction = "void ZoScsiSrvStart()";

// A configuration file for the duration of a test, named by ZO_CONFIG.
class TemporaryConfig {
public:
    explicit TemporaryConfig(const std::string& text) {
        char path[] = "/tmp/zo-start-XXXXXX";
        const int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        close(fd);
        m_path = path;
        std::ofstream(m_path) << text;
        setenv("ZO_CONFIG", m_path.c_str(), 1);
    }
    ~TemporaryConfig() {
        unsetenv("ZO_CONFIG");
        unlink(m_path.c_str());
    }

private:
    std::string m_path;
};

const char* const kInUse = "[Brovant]\nZoScsiSrvInUse = no\n";  // the value plays no part

std::string MangledHostName() {
    ZOPlatformInfo platform;
    std::string mangled;
    EXPECT_NE(platform.getClientHostNameMangled(platform.getPhysicalMachine(), mangled), 0);
    return mangled;
}

// Runs ZoScsiSrvStart and checks that it leaves no message (so no client) behind.
void Start(zotest::ScriptedService& service) {
    const long before = CNMessageBase::LiveCount();
    ZoScsiSrvStart();
    service.Requests();
    EXPECT_EQ(CNMessageBase::LiveCount(), before) << "a client or message survived the call";
}

}  // namespace

TEST(ZoScsiSrvStart, WithoutTheSettingOnlySaysSoAtLevelOne) {
    TemporaryConfig config("[Brovant]\nOther = 1\n[Elsewhere]\nZoScsiSrvInUse = 1\n");
    for (int level : {1, 0}) {
        SCOPED_TRACE(level);
        zotest::ScopedLogCapture log(level);
        zotest::ScriptedService service("node1", false);
        Start(service);
        EXPECT_EQ(log->Texts(), level >= 1 ? std::vector<std::string>{"ZoScsiSrv not in use"}
                                           : std::vector<std::string>{});
        if (log->Count() == 1) {
            EXPECT_EQ(log->Lines()[0].level, 1);
            EXPECT_EQ(log->Lines()[0].function, kFunction);
        }
        EXPECT_EQ(service.endpoint.SubmitCount(), 0);
    }
}

TEST(ZoScsiSrvStart, LaunchesForTheMangledNameAndStartsIscsi) {
    TemporaryConfig config(kInUse);
    zotest::ScopedLogCapture log(0);
    zotest::ScriptedService service("node1", false);
    service.endpoint.SetResponder(
        [](const CNMessageBase&) { return zotest::StatusReply(0x4B489582, 2, 2, 0); });
    const long tracers = ZODebugFunction::Constructed();
    ZoScsiSrvStart();
    EXPECT_EQ(ZODebugFunction::Constructed(), tracers) << "no tracer below level 1";
    EXPECT_EQ(service.endpoint.LaunchClientNames(), std::vector<std::string>{MangledHostName()});
    EXPECT_EQ(service.OnlyRequest(), "75/15{" + zotest::HeaderField("4bbaa58d", 1, 0, 1) + "}");
    EXPECT_EQ(log->Texts(), std::vector<std::string>{"StartScsiService success"});
    EXPECT_EQ(log->Lines()[0].level, 0);
    EXPECT_EQ(log->Lines()[0].function, kFunction);
}

TEST(ZoScsiSrvStart, EachFailureWritesItsLineAtItsLevel) {
    TemporaryConfig config(kInUse);
    struct Row {
        const char* name;
        std::function<void(zo::InprocEndpoint&)> script;
        const char* line;
        size_t requests;
    };
    const std::vector<Row> rows = {
        {"launch error", [](zo::InprocEndpoint& e) { e.SetLaunchErrorNumber(5); }, "ZoScsiSrvClient Initialize error", 0},
        {"attach error",
         [](zo::InprocEndpoint& e) { e.SetAttachError(FXErrorUtil::ErrorWin32(FXCodeLocation("t", "t", 1), 5, "x")); },
         "ZoScsiSrvClient Initialize error", 0},
        {"refused start", [](zo::InprocEndpoint& e) { e.QueueReply(zotest::StatusReply(0x4B489582, 2, 2, 5, "no")); },
         "ZoScsiSrvClient StartScsiService error", 1},
        {"start time-out", [](zo::InprocEndpoint& e) { e.QueueSend(zo::InprocEndpoint::SendOutcome::TimeOut); },
         "ZoScsiSrvClient StartScsiService error", 0},
    };
    for (const Row& row : rows) {
        for (int level : {-1, -2}) {
            SCOPED_TRACE(std::string(row.name) + " at " + std::to_string(level));
            zotest::ScopedLogCapture log(level);
            zotest::ScriptedService service("node1", false);
            row.script(service.endpoint);
            EXPECT_EQ(service.endpoint.RequestCount(), 0u);
            const long before = CNMessageBase::LiveCount();
            ZoScsiSrvStart();
            EXPECT_EQ(service.endpoint.RequestCount(), row.requests);
            service.Requests();
            EXPECT_EQ(CNMessageBase::LiveCount(), before);
            EXPECT_EQ(log->Texts(), level >= -1 ? std::vector<std::string>{row.line} : std::vector<std::string>{});
            if (log->Count() == 1) {
                EXPECT_EQ(log->Lines()[0].level, -1);
            }
        }
    }
}

// Each call is independent: it checks, launches and starts again.
TEST(ZoScsiSrvStart, EveryCallLaunchesAgainAndKeepsNothing) {
    TemporaryConfig config(kInUse);
    zotest::ScopedLogCapture log(1);
    zotest::ScriptedService service("node1", false);
    service.endpoint.SetResponder(
        [](const CNMessageBase&) { return zotest::StatusReply(0x4B489582, 2, 2, 0); });
    const long tracers = ZODebugFunction::Constructed();
    Start(service);
    Start(service);
    EXPECT_EQ(service.endpoint.SubmitCount(), 2);
    EXPECT_EQ(service.endpoint.AttachCount(), 2);
    EXPECT_EQ(ZODebugFunction::Constructed() - tracers, 2) << "Initialize's tracer only, once per call";
    EXPECT_EQ(log->Texts(), (std::vector<std::string>{"Started SCSI Service!!!", "StartScsiService success",
                                                      "Started SCSI Service!!!", "StartScsiService success"}));
}
