// The request exchange as every operation runs it: the failure rows of send,
// receive and status, the release of every response, and the log gate and
// tracer of each operation.
#include "ScriptedService.h"

#include "CNMessageBase.h"
#include "ZODebugFunction.h"
#include "support/CaptureLog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

using zotest::LastFrame;
using zotest::ScriptedService;
using zotest::StatusReply;
using namespace ZoScsiSrvClientRequest;

namespace {

using Outcome = zo::InprocEndpoint;

struct ExchangeCase {
    const char* function;
    const char* requestName;
    const char* responseName;
    unsigned long responseType;
    short statusFirst;
    short statusSecond;
    bool failureShowsNumber;  // the refusal text carries "errNum=%d, errString=%s"
    bool tracer;              // makes a tracer at level 1
    const char* successLine;  // its level-1 line on success, or null
    std::function<CYbError(ZoScsiSrvClient&)> run;
};

const RequestHeader kHeader(1, ZoScsiServer::ISCSI, 0);

const std::vector<ExchangeCase>& Cases() {
    static const std::vector<ExchangeCase> cases = {
        {"CYbError ZoScsiSrvClient::StartScsiService(const ZoScsiSrvClientRequest::StartServiceRequest&)",
         "StartService", "StartServiceRsp", 0x4B489582, 2, 2, true, false, "Started SCSI Service!!!",
         [](ZoScsiSrvClient& c) { return c.StartScsiService(StartServiceRequest(kHeader)); }},
        {"CYbError ZoScsiSrvClient::ReloadConfiguration(const string&)", "ReloadConfiguration",
         "ReloadConfigurationRsp", 0x4B8E42FA, 2, 2, false, true, nullptr,
         [](ZoScsiSrvClient& c) { return c.ReloadConfiguration("reload"); }},
        {"CYbError ZoScsiSrvClient::AddTarget(const ZoScsiSrvClientRequest::CreateTargetRequest&)", "AddTarget",
         "AddTargetResp", 0x4BA1AD42, 2, 2, true, true, "Created Target [Tgt01]",
         [](ZoScsiSrvClient& c) {
             CreateTargetRequest r;
             r.targetName = "Tgt01";
             return c.AddTarget(r);
         }},
        {"CYbError ZoScsiSrvClient::DeleteTarget(const ZoScsiSrvClientRequest::DeleteTargetRequest&)",
         "DeleteTarget", "DeleteTargetResp", 0x4B959D73, 2, 2, true, true, "Deleted Target [Tgt01]",
         [](ZoScsiSrvClient& c) {
             DeleteTargetRequest r;
             r.targetName = "Tgt01";
             return c.DeleteTarget(r);
         }},
        {"CYbError ZoScsiSrvClient::CreateLun(ZoScsiSrvClientRequest::CreateLunRequest&, std::string&, int32_t&)",
         "CreateLun", "CreateLunRsp", 0x4B6F9846, 4, 7, true, true, "Created Lun ID: [0] for target [Tgt01]",
         [](ZoScsiSrvClient& c) {
             CreateLunRequest r;
             r.targetName = "Tgt01";
             std::string name;
             int32_t id = 0;
             return c.CreateLun(r, name, id);
         }},
        {"CYbError ZoScsiSrvClient::OpenLun(const ZoScsiSrvClientRequest::OpenLunRequest&, std::string&)",
         "OpenLun", "OpenLunRsp", 0x4B6F9846, 4, 7, true, true, "Opened Lun ID: [0] for target [Tgt01]",
         [](ZoScsiSrvClient& c) {
             OpenLunRequest r;
             r.targetName = "Tgt01";
             std::string name;
             return c.OpenLun(r, name);
         }},
        {"CYbError ZoScsiSrvClient::CloseLun(const ZoScsiSrvClientRequest::CloseLunRequest&)", "CloseLun",
         "CloselunRsp", 0x4B97FDB5, 2, 2, true, true, "Closed Lun ID: [4] for target [Tgt01]",
         [](ZoScsiSrvClient& c) {
             CloseLunRequest r;
             r.lunId = 4;
             r.targetName = "Tgt01";
             return c.CloseLun(r);
         }},
        {"CYbError ZoScsiSrvClient::DeleteLun(const ZoScsiSrvClientRequest::DeleteLunRequest&)", "DeleteLun",
         "DeleteLunRsp", 0x4B97FDB5, 2, 2, true, true, "Deleted Lun ID: [4] for target [Tgt01]",
         [](ZoScsiSrvClient& c) {
             DeleteLunRequest r;
             r.lunId = 4;
             r.targetName = "Tgt01";
             return c.DeleteLun(r);
         }},
        {"CYbError ZoScsiSrvClient::MapHost(const ZoScsiSrvClientRequest::MapHostRequest&)", "MapLun2Host",
         "MapLun2HostRsp", 0x4BA0D31E, 2, 2, true, true, "Mapped Lun2Host, lun [3] host [Host1] target [Tgt01]",
         [](ZoScsiSrvClient& c) { return c.MapHost(MapHostRequest(3, "Tgt01", "Host1", kHeader)); }},
        {"CYbError ZoScsiSrvClient::UnmapHost(const UnmapHostRequest&)", "UnMapLun2Host", "UnMapLun2HostRsp",
         0x4B572617, 2, 2, true, true, "Unmapped lun [3] from host [Host1] & target [Tgt01]",
         [](ZoScsiSrvClient& c) { return c.UnmapHost(MapHostRequest(3, "Tgt01", "Host1", kHeader)); }},
        {"CYbError ZoScsiSrvClient::ListLuns(const string&, const string&, "
         "std::vector<std::__cxx11::basic_string<char> >&)",
         "ListLuns", "ListLunsRsp", 0x4B8E42FA, 2, 2, false, true, nullptr,
         [](ZoScsiSrvClient& c) {
             std::vector<std::string> lines;
             return c.ListLuns("ll", "-h node1", lines);
         }},
        {"CYbError ZoScsiSrvClient::ListTargets(const string&, std::vector<std::__cxx11::basic_string<char> >&)",
         "ListTargets", "ListTargetsRsp", 0x4B8E42FA, 2, 2, false, true, nullptr,
         [](ZoScsiSrvClient& c) {
             std::vector<std::string> targets;
             return c.ListTargets("lt", targets);
         }},
    };
    return cases;
}

// Runs the case's operation and checks that it left no message behind: the
// request and the response it received are released on every path.
CYbError RunReleasing(ScriptedService& service, const ExchangeCase& c) {
    const long before = CNMessageBase::LiveCount();
    CYbError error = c.run(*service.client);
    service.Requests();  // the endpoint's decoded copies
    EXPECT_EQ(CNMessageBase::LiveCount(), before) << "a message outlived the operation";
    return error;
}

void ExpectMadeHere(const CYbError& error, const ExchangeCase& c, unsigned int code, const std::string& message) {
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(error.Code(), code);
    EXPECT_EQ(error.Space(), FXErrorSpace::Host);
    EXPECT_EQ(error.Message(), message);
    ASSERT_EQ(error.Trail().size(), 1u) << error.ToString();
    EXPECT_EQ(LastFrame(error).file, "ZoScsiSrvClient");
    EXPECT_EQ(LastFrame(error).function, c.function);
}

void ExpectPushedHere(const CYbError& error, const ExchangeCase& c, const std::string& text) {
    ASSERT_TRUE(error.IsError());
    EXPECT_NE(error.Code(), 258u) << "the connection's own code is kept";
    EXPECT_NE(error.Code(), 774u) << "the connection's own code is kept";
    ASSERT_GE(error.Trail().size(), 2u) << error.ToString();
    EXPECT_EQ(LastFrame(error).file, "ZoScsiSrvClient");
    EXPECT_EQ(LastFrame(error).function, c.function);
    EXPECT_EQ(LastFrame(error).text, text);
}

std::string Name(const ExchangeCase& c) { return c.requestName; }

}  // namespace

TEST(Exchange, SendFailurePushesTheRequestNameAndReceivesNothing) {
    for (Outcome::SendOutcome outcome : {Outcome::SendOutcome::Fail, Outcome::SendOutcome::FailWithTimeOutFlag}) {
        for (const ExchangeCase& c : Cases()) {
            SCOPED_TRACE(Name(c));
            zotest::ScopedLogCapture log(1);
            ScriptedService service;
            service.endpoint.QueueSend(outcome);
            const CYbError error = RunReleasing(service, c);
            // The error test comes first: a failed send that also timed out is a failure, not 258.
            ExpectPushedHere(error, c, std::string("Failed to send ") + c.requestName + " request");
            EXPECT_EQ(service.endpoint.ReceiveCalls(), 0);
            EXPECT_EQ(log->CountAtLevel(-1), 0u) << "exchange failures are not logged";
        }
    }
}

TEST(Exchange, SendTimeOutIs258WithTheRequestName) {
    for (const ExchangeCase& c : Cases()) {
        SCOPED_TRACE(Name(c));
        ScriptedService service;
        service.endpoint.QueueSend(Outcome::SendOutcome::TimeOut);
        const CYbError error = RunReleasing(service, c);
        ExpectMadeHere(error, c, 258, std::string("Failed to send ") + c.requestName + " request. TimedOut");
        EXPECT_EQ(service.endpoint.ReceiveCalls(), 0);
    }
}

TEST(Exchange, ReceiveFailurePushesTheResponseName) {
    for (const ExchangeCase& c : Cases()) {
        SCOPED_TRACE(Name(c));
        ScriptedService service;
        service.endpoint.QueueReply(StatusReply(c.responseType, c.statusFirst, c.statusSecond, 0));
        service.endpoint.QueueReceive(Outcome::ReceiveOutcome::Fail);
        ExpectPushedHere(RunReleasing(service, c), c, std::string("Failed to receive ") + c.responseName + ".");
    }
}

// After a receive time-out the answer may still come: the connection is not
// good any more, so a late answer can never pass for the next request's.
TEST(Exchange, ReceiveTimeOutIs258AndLeavesTheConnectionNotGood) {
    for (const ExchangeCase& c : Cases()) {
        SCOPED_TRACE(Name(c));
        ScriptedService service;
        service.endpoint.QueueReceive(Outcome::ReceiveOutcome::TimeOut);
        const CYbError error = RunReleasing(service, c);
        ExpectMadeHere(error, c, 258, std::string("Failed to receive ") + c.responseName + ". TimedOut");
        int32_t number = 0;
        std::string text;
        EXPECT_FALSE(ZoScsiSrvClient::GetServiceError(error, number, text)) << "no answer, no service number";
        EXPECT_FALSE(service.client->IsZoScsiServiceUp(false));
        service.endpoint.QueueReply(StatusReply(c.responseType, c.statusFirst, c.statusSecond, 0));
        ExpectPushedHere(RunReleasing(service, c), c, std::string("Failed to send ") + c.requestName + " request");
    }
}

// The receive waits without a time limit: a service that never answers is a
// failed receive (the endpoint cannot complete it), not a time-out.
TEST(Exchange, ReceiveHasNoTimeLimit) {
    for (const ExchangeCase& c : Cases()) {
        SCOPED_TRACE(Name(c));
        ScriptedService service;
        ExpectPushedHere(RunReleasing(service, c), c, std::string("Failed to receive ") + c.responseName + ".");
    }
}

TEST(Exchange, OnlyTheLow32BitsOfTheErrorNumberCount) {
    for (const ExchangeCase& c : Cases()) {
        SCOPED_TRACE(Name(c));
        ScriptedService service;
        service.endpoint.QueueReply(StatusReply(c.responseType, c.statusFirst, c.statusSecond, 4294967296LL, "x"));
        const CYbError success = RunReleasing(service, c);
        EXPECT_FALSE(success.IsError()) << success.ToString();

        service.endpoint.QueueReply(StatusReply(c.responseType, c.statusFirst, c.statusSecond, 4294967295LL, "bad"));
        const CYbError refused = RunReleasing(service, c);
        ASSERT_TRUE(refused.IsError());
        EXPECT_EQ(refused.Code(), 774u);
        if (c.failureShowsNumber) {
            EXPECT_NE(refused.Message().find("errNum=-1, errString=bad"), std::string::npos) << refused.Message();
        } else {
            EXPECT_EQ(refused.Message().find("bad"), std::string::npos) << "fixed text expected";
        }
    }
}

struct MalformedCase {
    const char* what;
    const char* message;  // after "Malformed <response>: "
    std::function<std::unique_ptr<CNMessageBase>(const ExchangeCase&)> reply;
};

// A response without a readable status is refused with code 13 instead of
// passing for success (absent fields read as 0).
TEST(Exchange, MalformedStatusIsCode13NamingTheResponse) {
    const std::vector<MalformedCase> malformed = {
        {"empty response", "no status object", [](const ExchangeCase&) { return std::make_unique<CNMessageBase>(75, 1); }},
        {"status under another type key", "no status object",
         [](const ExchangeCase& c) { return StatusReply(c.responseType + 1, c.statusFirst, c.statusSecond, 0); }},
        {"status field holds a number", "no status object",
         [](const ExchangeCase& c) {
             auto reply = std::make_unique<CNMessageBase>(75, 1);
             reply->setint64(c.statusFirst, c.statusSecond, 0, c.responseType, zotest::kStatusObjectKey);
             return reply;
         }},
        {"error number missing", "status field of wrong kind",
         [](const ExchangeCase& c) {
             auto reply = std::make_unique<CNMessageBase>(75, 1);
             reply->getObjectAccessor(true, true, c.statusFirst, c.statusSecond, c.responseType,
                                      zotest::kStatusObjectKey, 75, 13);
             return reply;
         }},
        {"error number is a string", "status field of wrong kind",
         [](const ExchangeCase& c) {
             auto reply = std::make_unique<CNMessageBase>(75, 1);
             reply->getObjectAccessor(true, true, c.statusFirst, c.statusSecond, c.responseType,
                                      zotest::kStatusObjectKey, 75, 13)
                 ->setstring(1, 1, "0", zotest::kStatusType, zotest::kErrorNumberKey);
             return reply;
         }},
        {"error text is a number", "status field of wrong kind",
         [](const ExchangeCase& c) {
             auto reply = StatusReply(c.responseType, c.statusFirst, c.statusSecond, 0);
             reply->getObjectAccessor(true, true, c.statusFirst, c.statusSecond, c.responseType,
                                      zotest::kStatusObjectKey, 75, 13)
                 ->setint64(2, 2, 5, zotest::kStatusType, zotest::kErrorTextKey);
             return reply;
         }},
    };
    for (const MalformedCase& m : malformed) {
        for (const ExchangeCase& c : Cases()) {
            SCOPED_TRACE(std::string(m.what) + " / " + Name(c));
            ScriptedService service;
            service.endpoint.QueueReply(m.reply(c));
            ExpectMadeHere(RunReleasing(service, c), c, 13,
                           std::string("Malformed ") + c.responseName + ": " + m.message);
        }
    }
}

// Per level: tracer made only at 1 or more (never by StartScsiService), alive
// exactly during the call; success line only at 1; nothing at all below 0.
TEST(Exchange, LogGateAndTracerFollowTheLevel) {
    for (int level : {-2, 0, 1}) {
        for (const ExchangeCase& c : Cases()) {
            SCOPED_TRACE(Name(c) + " at level " + std::to_string(level));
            zotest::ScopedLogCapture log(level);
            ScriptedService service;
            log->Clear();
            long aliveDuringCall = -1;
            service.endpoint.SetResponder([&](const CNMessageBase&) {
                aliveDuringCall = ZODebugFunction::Alive();
                return StatusReply(c.responseType, c.statusFirst, c.statusSecond, 0);
            });
            const long constructed = ZODebugFunction::Constructed();
            const CYbError error = RunReleasing(service, c);
            EXPECT_FALSE(error.IsError()) << error.ToString();

            const long expected = c.tracer && level >= 1 ? 1 : 0;
            EXPECT_EQ(ZODebugFunction::Constructed() - constructed, expected);
            EXPECT_EQ(aliveDuringCall, expected);
            EXPECT_EQ(ZODebugFunction::Alive(), 0);

            std::vector<std::string> expectedLines;
            if (level >= 0 && std::string(c.requestName) == "CloseLun")
                expectedLines.push_back("Delete LUN Op Ctx Flags: [0]");
            if (level >= 1 && c.successLine) expectedLines.push_back(c.successLine);
            EXPECT_EQ(log->Texts(), expectedLines) << log->Dump();
            for (const zotest::CapturedLine& line : log->Lines()) {
                EXPECT_EQ(line.function, c.function);
                EXPECT_EQ(line.arg1, 0);
                EXPECT_EQ(line.arg2, 0);
            }
            if (level >= 1 && c.successLine) {
                EXPECT_EQ(log->Lines().back().level, 1);
            }
        }
    }
}
