// The service operations of targets, LUNs and mappings, the start and the
// reload: the exact message each sends, the codes and texts of refusals,
// out-parameters and success lines, and RemapLun2Host's two steps.
#include "ScriptedService.h"

#include "ZODebugFunction.h"
#include "support/CaptureLog.h"

#include <gtest/gtest.h>

#include <locale>

#include <functional>

using zotest::HeaderField;
using zotest::LastFrame;
using zotest::ScriptedService;
using zotest::StatusReply;
using namespace ZoScsiSrvClientRequest;

namespace {

const RequestHeader kLibraryHeader(1, ZoScsiServer::ISCSI, 0);
// A header no library default could produce, to see it travel unchanged.
const RequestHeader kCallerHeader(-7, static_cast<ZoScsiServer::FabricType>(2), 5);

struct WireCase {
    const char* name;
    unsigned long responseType;
    short statusFirst;
    short statusSecond;
    std::function<CYbError(ZoScsiSrvClient&)> run;
    std::string message;  // the request as zotest::Describe shows it
};

const std::vector<WireCase>& WireCases() {
    static const std::vector<WireCase> cases = {
        {"StartScsiService", 0x4B489582, 2, 2,
         [](ZoScsiSrvClient& c) { return c.StartScsiService(StartServiceRequest(kLibraryHeader)); },
         "75/15{" + HeaderField("4bbaa58d", 1, 0, 1) + "}"},
        {"StartScsiService, caller header", 0x4B489582, 2, 2,
         [](ZoScsiSrvClient& c) { return c.StartScsiService(StartServiceRequest(kCallerHeader)); },
         "75/15{" + HeaderField("4bbaa58d", -7, 5, 2) + "}"},
        {"ReloadConfiguration", 0x4B8E42FA, 2, 2, [](ZoScsiSrvClient& c) { return c.ReloadConfiguration("Re Load"); },
         "75/7{" + HeaderField("4b38ab15", 1, 0, 1) + " (2,2) 4b38ab15:1091a='Re Load'}"},
        {"ReloadConfiguration, empty", 0x4B8E42FA, 2, 2, [](ZoScsiSrvClient& c) { return c.ReloadConfiguration(""); },
         "75/7{" + HeaderField("4b38ab15", 1, 0, 1) + " (2,2) 4b38ab15:1091a=''}"},
        {"AddTarget with params", 0x4BA1AD42, 2, 2,
         [](ZoScsiSrvClient& c) {
             CreateTargetRequest r;
             r.header = kCallerHeader;
             r.targetName = "Tgt01";
             r.targetParams = "Some Params";
             return c.AddTarget(r);
         },
         "75/20{" + HeaderField("4bfea5cd", -7, 5, 2) +
             " (2,2) 4bfea5cd:82beac='tgt01' (3,6) 4bfea5cd:b8cfc1='Some Params'}"},
        {"AddTarget without params", 0x4BA1AD42, 2, 2,
         [](ZoScsiSrvClient& c) {
             CreateTargetRequest r;
             r.targetName = "TGT.A:1";
             return c.AddTarget(r);
         },
         "75/20{" + HeaderField("4bfea5cd", 1, 0, 1) + " (2,2) 4bfea5cd:82beac='tgt.a:1'}"},
        {"DeleteTarget", 0x4B959D73, 2, 2,
         [](ZoScsiSrvClient& c) {
             DeleteTargetRequest r;
             r.header = kCallerHeader;
             r.targetName = "Tgt01";
             return c.DeleteTarget(r);
         },
         "75/2{" + HeaderField("4b270b3c", -7, 5, 2) + " (2,2) 4b270b3c:82beac='tgt01'}"},
        {"CreateLun", 0x4B6F9846, 4, 7,
         [](ZoScsiSrvClient& c) {
             CreateLunRequest r;
             r.header = kCallerHeader;
             r.unusedLunId = 99;
             r.targetName = "Tgt01";
             r.lunSetting = 4294967295u;
             r.options = "-s 64M";
             std::string name;
             int32_t id;
             return c.CreateLun(r, name, id);
         },
         "75/19{" + HeaderField("4b1c3949", -7, 5, 2) +
             " (2,2) 4b1c3949:82beac='tgt01' (4,10) 4b1c3949:d16bc0=4294967295"
             " (5,11) 4b1c3949:c9db17=75/0{(1,1) 4b335cf0:566d39='-s 64M'}}"},
        {"CreateLun, empty options", 0x4B6F9846, 4, 7,
         [](ZoScsiSrvClient& c) {
             CreateLunRequest r;
             r.targetName = "t";
             std::string name;
             int32_t id;
             return c.CreateLun(r, name, id);
         },
         "75/19{" + HeaderField("4b1c3949", 1, 0, 1) +
             " (2,2) 4b1c3949:82beac='t' (4,10) 4b1c3949:d16bc0=0 (5,11) 4b1c3949:c9db17=75/0{(1,1) 4b335cf0:566d39=''}}"},
        {"OpenLun 7", 0x4B6F9846, 4, 7,
         [](ZoScsiSrvClient& c) {
             OpenLunRequest r;
             r.header = kCallerHeader;
             r.lunId = 7;
             r.targetName = "Tgt01";
             r.lunSetting = 3;
             std::string name;
             return c.OpenLun(r, name);
         },
         "75/19{" + HeaderField("4b1c3949", -7, 5, 2) +
             " (2,2) 4b1c3949:82beac='tgt01' (4,10) 4b1c3949:d16bc0=3"
             " (5,11) 4b1c3949:c9db17=75/0{(1,1) 4b335cf0:566d39=' -li 7'}}"},
        {"OpenLun -3", 0x4B6F9846, 4, 7,
         [](ZoScsiSrvClient& c) {
             OpenLunRequest r;
             r.lunId = -3;
             r.targetName = "t";
             std::string name;
             return c.OpenLun(r, name);
         },
         "75/19{" + HeaderField("4b1c3949", 1, 0, 1) +
             " (2,2) 4b1c3949:82beac='t' (4,10) 4b1c3949:d16bc0=0"
             " (5,11) 4b1c3949:c9db17=75/0{(1,1) 4b335cf0:566d39=' -li -3'}}"},
        {"CloseLun", 0x4B97FDB5, 2, 2,
         [](ZoScsiSrvClient& c) {
             CloseLunRequest r;
             r.header = RequestHeader(1, ZoScsiServer::ISCSI, 1);
             r.lunId = -1;
             r.targetName = "Tgt01";
             return c.CloseLun(r);
         },
         "75/9{" + HeaderField("4b10623a", 1, 1, 1) + " (2,2) 4b10623a:82beac='tgt01' (3,6) 4b10623a:544161=-1}"},
        {"DeleteLun, equal to CloseLun", 0x4B97FDB5, 2, 2,
         [](ZoScsiSrvClient& c) {
             DeleteLunRequest r;
             r.header = RequestHeader(1, ZoScsiServer::ISCSI, 1);
             r.lunId = -1;
             r.targetName = "Tgt01";
             return c.DeleteLun(r);
         },
         "75/9{" + HeaderField("4b10623a", 1, 1, 1) + " (2,2) 4b10623a:82beac='tgt01' (3,6) 4b10623a:544161=-1}"},
        {"MapHost", 0x4BA0D31E, 2, 2,
         [](ZoScsiSrvClient& c) { return c.MapHost(MapHostRequest(3, "TGT01", "Host.One", kCallerHeader)); },
         "75/4{" + HeaderField("4b38ad71", -7, 5, 2) +
             " (3,6) 4b38ad71:82beac='tgt01' (4,10) 4b38ad71:544161=3 (2,2) 4b38ad71:2f2103='Host.One'}"},
        {"UnmapHost, negative id", 0x4B572617, 2, 2,
         [](ZoScsiSrvClient& c) { return c.UnmapHost(MapHostRequest(-1, "TGT01", "Host.One", kCallerHeader)); },
         "75/14{" + HeaderField("4b0ee518", -7, 5, 2) +
             " (3,6) 4b0ee518:82beac='tgt01' (4,10) 4b0ee518:544161=-1 (2,2) 4b0ee518:2f2103='Host.One'}"},
    };
    return cases;
}

struct RefusalCase {
    const char* name;
    unsigned long responseType;
    short statusFirst;
    short statusSecond;
    long long errorNumber;
    std::function<CYbError(ZoScsiSrvClient&)> run;
    unsigned int code;
    std::string message;
};

CreateTargetRequest Target(const char* name) {
    CreateTargetRequest r;
    r.targetName = name;
    return r;
}

const std::vector<RefusalCase>& RefusalCases() {
    static const std::vector<RefusalCase> cases = {
        {"StartScsiService", 0x4B489582, 2, 2, 5,
         [](ZoScsiSrvClient& c) { return c.StartScsiService(StartServiceRequest(kLibraryHeader)); }, 774,
         "Failed to start SCSI service, errNum=5, errString=service text"},
        {"ReloadConfiguration", 0x4B8E42FA, 2, 2, 5, [](ZoScsiSrvClient& c) { return c.ReloadConfiguration("r"); },
         774, "Failed to reload iSCSI service configuration."},
        {"AddTarget 7", 0x4BA1AD42, 2, 2, 7, [](ZoScsiSrvClient& c) { return c.AddTarget(Target("Tgt01")); }, 183,
         "Failed to add target Tgt01, errNum=7, errString=service text"},
        {"AddTarget 5", 0x4BA1AD42, 2, 2, 5, [](ZoScsiSrvClient& c) { return c.AddTarget(Target("Tgt01")); }, 774,
         "Failed to add target Tgt01, errNum=5, errString=service text"},
        {"DeleteTarget 7", 0x4B959D73, 2, 2, 7,
         [](ZoScsiSrvClient& c) {
             DeleteTargetRequest r;
             r.targetName = "Tgt01";
             return c.DeleteTarget(r);
         },
         774, "Failed to delete target Tgt01, errNum=7, errString=service text"},
        {"CreateLun 7", 0x4B6F9846, 4, 7, 7,
         [](ZoScsiSrvClient& c) {
             CreateLunRequest r;
             r.targetName = "Tgt01";
             std::string name;
             int32_t id;
             return c.CreateLun(r, name, id);
         },
         774, "Failed to create lun for target Tgt01, errNum=7, errString=service text"},
        {"OpenLun", 0x4B6F9846, 4, 7, 2,
         [](ZoScsiSrvClient& c) {
             OpenLunRequest r;
             r.lunId = 9;
             r.targetName = "Tgt01";
             std::string name;
             return c.OpenLun(r, name);
         },
         774, "Failed to open lun [9] target Tgt01, errNum=2, errString=service text"},
        {"CloseLun", 0x4B97FDB5, 2, 2, 16,
         [](ZoScsiSrvClient& c) {
             CloseLunRequest r;
             r.lunId = 9;
             r.targetName = "Tgt01";
             return c.CloseLun(r);
         },
         774, "Failed to close lun=9, target=Tgt01, errNum=16, errString=service text"},
        {"DeleteLun", 0x4B97FDB5, 2, 2, -3,
         [](ZoScsiSrvClient& c) {
             DeleteLunRequest r;
             r.lunId = 9;
             r.targetName = "Tgt01";
             return c.DeleteLun(r);
         },
         774, "Failed to delete lun=9, target=Tgt01, errNum=-3, errString=service text"},
        {"MapHost", 0x4BA0D31E, 2, 2, 7,
         [](ZoScsiSrvClient& c) { return c.MapHost(MapHostRequest(3, "Tgt01", "Host1", kLibraryHeader)); }, 774,
         "Failed maplun2host lun=3, host=Host1, target=Tgt01, errNum=7, errString=service text"},
        {"UnmapHost", 0x4B572617, 2, 2, 2,
         [](ZoScsiSrvClient& c) { return c.UnmapHost(MapHostRequest(3, "Tgt01", "Host1", kLibraryHeader)); }, 774,
         "Failed to unmap lun 3 from host Host1, target Tgt01, errNum=2, errString=service text"},
    };
    return cases;
}

}  // namespace

TEST(Operations, EachSendsExactlyItsFieldsInOrder) {
    for (const WireCase& c : WireCases()) {
        SCOPED_TRACE(c.name);
        ScriptedService service;
        service.endpoint.QueueReply(StatusReply(c.responseType, c.statusFirst, c.statusSecond, 0));
        const CYbError error = c.run(*service.client);
        EXPECT_FALSE(error.IsError()) << error.ToString();
        EXPECT_EQ(service.OnlyRequest(), c.message);
    }
}

TEST(Operations, RefusalsCarryTheirCodeAndText) {
    for (const RefusalCase& c : RefusalCases()) {
        SCOPED_TRACE(c.name);
        zotest::ScopedLogCapture log(1);
        ScriptedService service;
        log->Clear();
        service.endpoint.QueueReply(
            StatusReply(c.responseType, c.statusFirst, c.statusSecond, c.errorNumber, "service text"));
        const CYbError error = c.run(*service.client);
        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(error.Code(), c.code);
        EXPECT_EQ(error.Space(), FXErrorSpace::Host);
        EXPECT_EQ(error.Message(), c.message);
        EXPECT_EQ(LastFrame(error).file, "ZoScsiSrvClient");
        EXPECT_EQ(error.Trail().size(), 1u);
        // The service's number and text, typed, also where the message has neither.
        int32_t number = 0;
        std::string text;
        ASSERT_TRUE(ZoScsiSrvClient::GetServiceError(error, number, text));
        EXPECT_EQ(number, c.errorNumber);
        EXPECT_EQ(text, "service text");
        // Refusals are returned, not logged; the close still logs its flags.
        EXPECT_EQ(log->Count(), std::string(c.name) == "CloseLun" ? 1u : 0u) << log->Dump();
    }
}

// Mixed-case target names travel lower-cased but are quoted as written.
TEST(Operations, TargetNamesAreLowerCasedOnlyOnTheWire) {
    zotest::ScopedLogCapture log(1);
    ScriptedService service;
    log->Clear();
    service.endpoint.QueueReply(StatusReply(0x4BA1AD42, 2, 2, 0));
    EXPECT_FALSE(service.client->AddTarget(Target("Tgt01")).IsError());
    EXPECT_NE(service.OnlyRequest().find("'tgt01'"), std::string::npos);
    EXPECT_EQ(log->Texts(), std::vector<std::string>{"Created Target [Tgt01]"});
}

// A character set whose lower case of 'Q' is 'z': shows which locale lowered.
class OddLowerCase : public std::ctype<char> {
protected:
    char do_tolower(char c) const override { return c == 'Q' ? 'z' : std::ctype<char>::do_tolower(c); }
    const char* do_tolower(char* low, const char* high) const override {
        for (; low < high; ++low) *low = do_tolower(*low);
        return high;
    }
};

// Lower-casing follows the global locale of the moment, character by character.
TEST(Operations, TargetNamesAreLowerCasedUnderTheGlobalLocale) {
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new OddLowerCase));
    ScriptedService service;
    service.endpoint.QueueReply(StatusReply(0x4BA1AD42, 2, 2, 0));
    const CYbError error = service.client->AddTarget(Target("TgtQ"));
    std::locale::global(previous);
    EXPECT_FALSE(error.IsError());
    EXPECT_NE(service.OnlyRequest().find("'tgtz'"), std::string::npos) << service.OnlyRequest();
}

TEST(Operations, CreateLunReturnsIdAndNameAndResetsThemOnEveryFailure) {
    CreateLunRequest request;
    request.targetName = "Tgt01";
    {
        zotest::ScopedLogCapture log(1);
        ScriptedService service;
        log->Clear();
        auto reply = StatusReply(0x4B6F9846, 4, 7, 0);
        reply->setint64(6, 6, (1LL << 32) + 2, 0x4B6F9846, 0x544161);  // cut to its low 32 bits
        reply->setstring(2, 2, "lun-name", 0x4B6F9846, 0x14868D);
        service.endpoint.QueueReply(std::move(reply));
        std::string name = "old";
        int32_t id = 55;
        EXPECT_FALSE(service.client->CreateLun(request, name, id).IsError());
        EXPECT_EQ(name, "lun-name");
        EXPECT_EQ(id, 2);
        EXPECT_EQ(log->Texts(), std::vector<std::string>{"Created Lun ID: [2] for target [Tgt01]"});
    }
    const std::vector<std::function<void(zo::InprocEndpoint&)>> failures = {
        [](zo::InprocEndpoint& e) { e.QueueSend(zo::InprocEndpoint::SendOutcome::TimeOut); },
        [](zo::InprocEndpoint& e) { e.QueueSend(zo::InprocEndpoint::SendOutcome::Fail); },
        [](zo::InprocEndpoint& e) { e.QueueReceive(zo::InprocEndpoint::ReceiveOutcome::TimeOut); },
        [](zo::InprocEndpoint& e) { e.QueueReply(StatusReply(0x4B6F9846, 4, 7, 5)); },
        [](zo::InprocEndpoint& e) { e.QueueReply(std::make_unique<CNMessageBase>(75, 1)); },
    };
    for (size_t i = 0; i < failures.size(); ++i) {
        SCOPED_TRACE(i);
        ScriptedService service;
        failures[i](service.endpoint);
        std::string name = "old";
        int32_t id = 55;
        EXPECT_TRUE(service.client->CreateLun(request, name, id).IsError());
        EXPECT_EQ(name, "");
        EXPECT_EQ(id, -1);
    }
}

// A success answer without the result fields reads them as absent: no name, id 0.
TEST(Operations, CreateLunSuccessWithoutResultFieldsDoesNotCrash) {
    ScriptedService service;
    service.endpoint.QueueReply(StatusReply(0x4B6F9846, 4, 7, 0));
    CreateLunRequest request;
    request.targetName = "t";
    std::string name = "old";
    int32_t id = 55;
    EXPECT_FALSE(service.client->CreateLun(request, name, id).IsError());
    EXPECT_EQ(name, "");
    EXPECT_EQ(id, 0);
}

TEST(Operations, OpenLunReturnsTheNameAndLogsTheServicesId) {
    zotest::ScopedLogCapture log(1);
    ScriptedService service;
    log->Clear();
    auto reply = StatusReply(0x4B6F9846, 4, 7, 0);
    reply->setint64(6, 6, 12, 0x4B6F9846, 0x544161);
    reply->setstring(2, 2, "lun-12", 0x4B6F9846, 0x14868D);
    service.endpoint.QueueReply(std::move(reply));
    OpenLunRequest request;
    request.lunId = 7;
    request.targetName = "Tgt01";
    std::string name = "old";
    EXPECT_FALSE(service.client->OpenLun(request, name).IsError());
    EXPECT_EQ(name, "lun-12");
    EXPECT_EQ(log->Texts(), std::vector<std::string>{"Opened Lun ID: [12] for target [Tgt01]"});

    service.endpoint.QueueReply(StatusReply(0x4B6F9846, 4, 7, 2));
    EXPECT_TRUE(service.client->OpenLun(request, name).IsError());
    EXPECT_EQ(name, "");
}

TEST(Operations, CloseLunLogsTheFlagsItSendsAtLevelZero) {
    zotest::ScopedLogCapture log(0);
    ScriptedService service;
    log->Clear();
    service.endpoint.QueueReply(StatusReply(0x4B97FDB5, 2, 2, 0));
    CloseLunRequest request;
    request.header = RequestHeader(1, ZoScsiServer::ISCSI, -9223372036854775807LL - 1);
    request.targetName = "t";
    EXPECT_FALSE(service.client->CloseLun(request).IsError());
    const auto lines = log->Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 0);
    EXPECT_EQ(lines[0].text, "Delete LUN Op Ctx Flags: [-9223372036854775808]");

    log->SetLevel(-1);
    log->Clear();
    service.endpoint.QueueReply(StatusReply(0x4B97FDB5, 2, 2, 0));
    EXPECT_FALSE(service.client->CloseLun(request).IsError());
    EXPECT_EQ(log->Count(), 0u);
}

namespace {

RemapHostRequest Remap() {
    RemapHostRequest r;
    r.header = kCallerHeader;  // not used: both steps carry the library's header
    r.lunId = 3;
    r.targetName = "Tgt01";
    r.fromHostName = "HostA";
    r.toHostName = "HostB";
    return r;
}

const std::string kUnmapSent = "75/14{" + HeaderField("4b0ee518", 1, 0, 1) +
                               " (3,6) 4b0ee518:82beac='tgt01' (4,10) 4b0ee518:544161=3 (2,2) 4b0ee518:2f2103='HostA'}";
const std::string kMapSent = "75/4{" + HeaderField("4b38ad71", 1, 0, 1) +
                             " (3,6) 4b38ad71:82beac='tgt01' (4,10) 4b38ad71:544161=3 (2,2) 4b38ad71:2f2103='HostB'}";
const char* const kRemapFunction =
    "CYbError ZoScsiSrvClient::RemapLun2Host(const ZoScsiSrvClientRequest::RemapHostRequest&)";

}  // namespace

TEST(RemapLun2Host, UnmapsThenMapsWithTheLibrarysHeaderAndLogsThreeLines) {
    zotest::ScopedLogCapture log(1);
    ScriptedService service;
    log->Clear();
    service.endpoint.QueueReply(StatusReply(0x4B572617, 2, 2, 0));
    service.endpoint.QueueReply(StatusReply(0x4BA0D31E, 2, 2, 0));
    const long tracers = ZODebugFunction::Constructed();
    EXPECT_FALSE(service.client->RemapLun2Host(Remap()).IsError());
    EXPECT_EQ(ZODebugFunction::Constructed() - tracers, 3);
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(zotest::Describe(*requests[0]), kUnmapSent);
    EXPECT_EQ(zotest::Describe(*requests[1]), kMapSent);
    EXPECT_EQ(log->Texts(), (std::vector<std::string>{"Unmapped lun [3] from host [HostA] & target [Tgt01]",
                                                      "Mapped Lun2Host, lun [3] host [HostB] target [Tgt01]",
                                                      "Remapped lun [3] from host [HostA] to host [HostB] & target [Tgt01]"}));
    EXPECT_EQ(log->Lines().back().function, kRemapFunction);
}

TEST(RemapLun2Host, StopsAfterAFailedUnmap) {
    ScriptedService service;
    service.endpoint.QueueReply(StatusReply(0x4B572617, 2, 2, 2, "not mapped"));
    const CYbError error = service.client->RemapLun2Host(Remap());
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(error.Code(), 774u);
    EXPECT_EQ(error.Message(), "Failed to unmap lun 3 from host HostA, target Tgt01, errNum=2, errString=not mapped");
    EXPECT_EQ(LastFrame(error).function, kRemapFunction);
    EXPECT_EQ(LastFrame(error).text, "Failed unmap lun from host");
    EXPECT_EQ(service.OnlyRequest(), kUnmapSent) << "no map request after a failed unmap";
}

TEST(RemapLun2Host, KeepsTheUnmapAfterAFailedMap) {
    ScriptedService service;
    service.endpoint.QueueReply(StatusReply(0x4B572617, 2, 2, 0));
    service.endpoint.QueueSend(zo::InprocEndpoint::SendOutcome::Deliver);
    service.endpoint.QueueSend(zo::InprocEndpoint::SendOutcome::TimeOut);
    const CYbError error = service.client->RemapLun2Host(Remap());
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(error.Code(), 258u);
    EXPECT_EQ(error.Message(), "Failed to send MapLun2Host request. TimedOut");
    EXPECT_EQ(LastFrame(error).text, "Failed map lun to host");
    EXPECT_EQ(service.OnlyRequest(), kUnmapSent) << "the unmap stays, nothing is undone";

    ScriptedService refused;
    refused.endpoint.QueueReply(StatusReply(0x4B572617, 2, 2, 0));
    refused.endpoint.QueueReply(StatusReply(0x4BA0D31E, 2, 2, 7, "exists"));
    const CYbError refusal = refused.client->RemapLun2Host(Remap());
    EXPECT_EQ(refusal.Code(), 774u);
    EXPECT_EQ(LastFrame(refusal).text, "Failed map lun to host");
    EXPECT_EQ(refused.Requests().size(), 2u);
}
