// The listings through the generic command message: command words and
// argument strings, front insertion and logging of lines and records,
// refusals that leave the output untouched, and the pushed frames.
#include "ScriptedService.h"

#include "ZODebugFunction.h"
#include "support/CaptureLog.h"

#include <gtest/gtest.h>

using zotest::HeaderField;
using zotest::LastFrame;
using zotest::ListingReply;
using zotest::ScriptedService;
using LunInfo = ZoScsiSrvClient::LunInfo;

namespace {

const char* const kRawListLuns =
    "CYbError ZoScsiSrvClient::ListLuns(const string&, const string&, std::vector<std::__cxx11::basic_string<char> >&)";
const char* const kRawLineWriter =
    "ZoScsiSrvClient::ListLuns(const string&, const string&, std::vector<std::__cxx11::basic_string<char> >&)"
    "::<lambda(const string&)>";
const char* const kFilteredListLuns =
    "CYbError ZoScsiSrvClient::ListLuns(std::vector<ZoScsiSrvClient::LunInfo>&, const string&, const string&)";
const char* const kFilteredRecordWriter =
    "ZoScsiSrvClient::ListLuns(std::vector<ZoScsiSrvClient::LunInfo>&, const string&, const string&)"
    "::<lambda(const LunInfo_t&)>";
const char* const kByTarget =
    "CYbError ZoScsiSrvClient::ListLunsByTarget(const string&, std::vector<ZoScsiSrvClient::LunInfo>&)";
const char* const kByHost =
    "CYbError ZoScsiSrvClient::ListLunsByHost(const string&, std::vector<ZoScsiSrvClient::LunInfo>&)";
const char* const kListBy =
    "CYbError ZoScsiSrvClient::_ListLunsBy(const string&, const string&, const string&, const string&, "
    "std::vector<ZoScsiSrvClient::LunInfo>&)";
const char* const kListByRecordWriter =
    "ZoScsiSrvClient::_ListLunsBy(const string&, const string&, const string&, const string&, "
    "std::vector<ZoScsiSrvClient::LunInfo>&)::<lambda(const auto:1&)> [with auto:1 = ZoScsiSrvClient::LunInfo]";
const char* const kListTargets =
    "CYbError ZoScsiSrvClient::ListTargets(const string&, std::vector<std::__cxx11::basic_string<char> >&)";
const char* const kTargetLineWriter =
    "ZoScsiSrvClient::ListTargets(const string&, std::vector<std::__cxx11::basic_string<char> >&)"
    "::<lambda(const string&)>";

std::string Ioctl(const std::string& command, const std::string* arguments) {
    std::string out = "75/7{" + HeaderField("4b38ab15", 1, 0, 1) + " (2,2) 4b38ab15:1091a='" + command + "'";
    if (arguments) out += " (3,6) 4b38ab15:e23117='" + *arguments + "'";
    return out + "}";
}

std::string Ioctl(const std::string& command, const std::string& arguments) { return Ioctl(command, &arguments); }

struct FilterCase {
    const char* name;
    std::function<CYbError(ZoScsiSrvClient&, std::vector<LunInfo>&)> run;
    const char* command;
    const char* arguments;
    const char* recordWriter;
    const char* refusalFunction;  // the frame pushed on a refused listing
    const char* refusalText;
};

const std::vector<FilterCase>& FilterCases() {
    static const std::vector<FilterCase> cases = {
        {"all", [](ZoScsiSrvClient& c, std::vector<LunInfo>& l) { return c.ListLuns(l, "", ""); }, "ll", "-h node1",
         kFilteredRecordWriter, kFilteredListLuns, "Failed to list luns."},
        {"by target", [](ZoScsiSrvClient& c, std::vector<LunInfo>& l) { return c.ListLuns(l, "Tgt01", ""); }, "ll",
         "-h node1 -ti Tgt01", kFilteredRecordWriter, kFilteredListLuns, "Failed to list luns."},
        {"by host", [](ZoScsiSrvClient& c, std::vector<LunInfo>& l) { return c.ListLuns(l, "", "h1"); }, "ll",
         "-h node1 -hi h1", kFilteredRecordWriter, kFilteredListLuns, "Failed to list luns."},
        {"by both", [](ZoScsiSrvClient& c, std::vector<LunInfo>& l) { return c.ListLuns(l, "tgt01", "h1"); }, "ll",
         "-h node1 -ti tgt01 -hi h1", kFilteredRecordWriter, kFilteredListLuns, "Failed to list luns."},
        {"ListLunsByTarget", [](ZoScsiSrvClient& c, std::vector<LunInfo>& l) { return c.ListLunsByTarget("Tgt01", l); },
         "llt", "-h node1 -llt -ti Tgt01", kListByRecordWriter, kListBy,
         "Failed to list luns by target for target [Tgt01]"},
        {"ListLunsByHost", [](ZoScsiSrvClient& c, std::vector<LunInfo>& l) { return c.ListLunsByHost("H1", l); },
         "llh", "-h node1 -llh -hi H1", kListByRecordWriter, kListBy, "Failed to list luns by host for host [H1]"},
    };
    return cases;
}

}  // namespace

TEST(ListLuns, RawListingPutsTheAnswerInFrontAndLogsEveryLine) {
    zotest::ScopedLogCapture log(0);
    ScriptedService service;
    log->Clear();
    service.endpoint.QueueReply(ListingReply(0, {"x", "y"}));
    std::vector<std::string> lines{"a"};
    EXPECT_FALSE(service.client->ListLuns("Cmd", "", lines).IsError());
    EXPECT_EQ(lines, (std::vector<std::string>{"x", "y", "a"}));
    EXPECT_EQ(service.OnlyRequest(), Ioctl("Cmd", "")) << "empty arguments are still sent";
    const auto logged = log->Lines();
    ASSERT_EQ(logged.size(), 3u) << log->Dump();
    for (size_t i = 0; i < logged.size(); ++i) {
        EXPECT_EQ(logged[i].level, 0);
        EXPECT_EQ(logged[i].function, kRawLineWriter);
        EXPECT_EQ(logged[i].text, lines[i]);
    }
}

TEST(ListLuns, RawListingOfNothingLeavesTheLinesAsTheyWere) {
    ScriptedService service;
    for (bool withList : {true, false}) {
        SCOPED_TRACE(withList);
        service.endpoint.QueueReply(withList ? ListingReply(0, {}) : zotest::StatusReply(0x4B8E42FA, 2, 2, 0));
        std::vector<std::string> lines{"a"};
        EXPECT_FALSE(service.client->ListLuns("ll", "-h node1", lines).IsError());
        EXPECT_EQ(lines, std::vector<std::string>{"a"});
    }
}

TEST(ListLuns, RefusedRawListingLeavesTheLinesAndUsesTheFixedText) {
    zotest::ScopedLogCapture log(0);
    ScriptedService service;
    log->Clear();
    service.endpoint.QueueReply(ListingReply(3, {"x"}));
    std::vector<std::string> lines{"a"};
    const CYbError error = service.client->ListLuns("ll", "-h node1", lines);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(error.Code(), 774u);
    EXPECT_EQ(error.Message(), "Failed to get lun list ");
    EXPECT_EQ(LastFrame(error).function, kRawListLuns);
    EXPECT_EQ(lines, std::vector<std::string>{"a"});
    EXPECT_EQ(log->Count(), 0u);
}

TEST(ListLuns, EachListingSendsItsCommandWordAndArguments) {
    for (const FilterCase& c : FilterCases()) {
        SCOPED_TRACE(c.name);
        ScriptedService service;
        service.endpoint.QueueReply(ListingReply(0, {}));
        std::vector<LunInfo> luns;
        EXPECT_FALSE(c.run(*service.client, luns).IsError());
        EXPECT_EQ(service.OnlyRequest(), Ioctl(c.command, c.arguments));
    }
}

TEST(ListLuns, EachListingParsesAndLogsEveryRecord) {
    for (const FilterCase& c : FilterCases()) {
        SCOPED_TRACE(c.name);
        zotest::ScopedLogCapture log(0);
        ScriptedService service;
        log->Clear();
        service.endpoint.QueueReply(ListingReply(0, {"tgt01#host01#3#100", "tgt01#-#4#-1"}));
        std::vector<LunInfo> luns{LunInfo("old", "old", "", 0)};
        EXPECT_FALSE(c.run(*service.client, luns).IsError());
        ASSERT_EQ(luns.size(), 2u);
        EXPECT_EQ(luns[1].lun, "4");
        EXPECT_EQ(luns[1].host, "");
        std::vector<std::string> records;
        for (const zotest::CapturedLine& line : log->Lines())
            if (line.function == c.recordWriter) records.push_back(line.text);
        EXPECT_EQ(records, (std::vector<std::string>{
                               "Lun: [3] Target: [tgt01] Host: [host01] Creation Time: [100]",
                               "Lun: [4] Target: [tgt01] Host: [] Creation Time: [18446744073709551615]"}))
            << log->Dump();
        EXPECT_EQ(log->Count(), 4u) << "two raw lines, two records: " << log->Dump();

        log->SetLevel(-1);
        log->Clear();
        service.endpoint.QueueReply(ListingReply(0, {}));
        EXPECT_FALSE(c.run(*service.client, luns).IsError());
        EXPECT_TRUE(luns.empty()) << "an empty answer replaces the old records";
        EXPECT_EQ(log->Count(), 0u);
    }
}

TEST(ListLuns, RefusedListingPushesItsFrameAndKeepsTheRecords) {
    for (const FilterCase& c : FilterCases()) {
        SCOPED_TRACE(c.name);
        ScriptedService service;
        service.endpoint.QueueReply(ListingReply(5, {"tgt01#h#1#1"}));
        std::vector<LunInfo> luns{LunInfo("old", "t", "", 0)};
        const CYbError error = c.run(*service.client, luns);
        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(error.Code(), 774u);
        EXPECT_EQ(error.Message(), "Failed to get lun list ");
        const auto trail = error.Trail();
        ASSERT_EQ(trail.size(), 2u) << error.ToString();
        EXPECT_EQ(trail[0].function, kRawListLuns);
        EXPECT_EQ(trail[1].function, c.refusalFunction);
        EXPECT_EQ(trail[1].text, c.refusalText);
        int32_t number = 0;
        std::string text;
        EXPECT_TRUE(ZoScsiSrvClient::GetServiceError(error, number, text));
        EXPECT_EQ(number, 5) << "the service's number survives the filter's frame";
        EXPECT_EQ(text, "refused");
        ASSERT_EQ(luns.size(), 1u);
        EXPECT_EQ(luns[0].lun, "old");
    }
}

TEST(ListLuns, SingleFilterListingsRefuseAnEmptyIdWithoutAnExchange) {
    ScriptedService service;
    std::vector<LunInfo> luns{LunInfo("old", "t", "", 0)};
    const CYbError byTarget = service.client->ListLunsByTarget("", luns);
    const CYbError byHost = service.client->ListLunsByHost("", luns);
    for (const auto& [error, function, text] :
         {std::make_tuple(byTarget, kByTarget, "Empty target id."), std::make_tuple(byHost, kByHost, "Empty host id.")}) {
        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(error.Code(), 22u);
        EXPECT_EQ(error.Space(), FXErrorSpace::ErrNo);
        EXPECT_EQ(error.Message(), text);
        EXPECT_EQ(LastFrame(error).function, function);
    }
    EXPECT_EQ(service.endpoint.SendCalls(), 0);
    EXPECT_EQ(luns.size(), 1u);
}

// Filtered listings trace themselves and the raw listing; _ListLunsBy does not.
TEST(ListLuns, TracersOfTheFilteredListings) {
    for (int level : {0, 1}) {
        for (const FilterCase& c : FilterCases()) {
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(level));
            zotest::ScopedLogCapture log(level);
            ScriptedService service;
            service.endpoint.QueueReply(ListingReply(0, {}));
            const long before = ZODebugFunction::Constructed();
            const long messages = CNMessageBase::LiveCount();
            std::vector<LunInfo> luns;
            EXPECT_FALSE(c.run(*service.client, luns).IsError());
            EXPECT_EQ(ZODebugFunction::Constructed() - before, level >= 1 ? 2 : 0);
            EXPECT_EQ(ZODebugFunction::Alive(), 0);
            service.Requests();
            EXPECT_EQ(CNMessageBase::LiveCount(), messages);
        }
    }
}

TEST(ListTargets, SendsOnlyTheCommandAndPutsTheAnswerInFront) {
    zotest::ScopedLogCapture log(0);
    ScriptedService service;
    log->Clear();
    service.endpoint.QueueReply(ListingReply(0, {"t1", "t2"}));
    std::vector<std::string> targets{"t0"};
    EXPECT_FALSE(service.client->ListTargets("Lt", targets).IsError());
    EXPECT_EQ(targets, (std::vector<std::string>{"t1", "t2", "t0"}));
    EXPECT_EQ(service.OnlyRequest(), Ioctl("Lt", nullptr));
    const auto logged = log->Lines();
    ASSERT_EQ(logged.size(), 3u);
    for (size_t i = 0; i < logged.size(); ++i) {
        EXPECT_EQ(logged[i].function, kTargetLineWriter);
        EXPECT_EQ(logged[i].text, targets[i]);
    }

    service.endpoint.QueueReply(ListingReply(1, {"t9"}));
    const CYbError error = service.client->ListTargets("lt", targets);
    EXPECT_EQ(error.Code(), 774u);
    EXPECT_EQ(error.Message(), "Failed to get lun list ");
    EXPECT_EQ(LastFrame(error).function, kListTargets);
    EXPECT_EQ(targets.size(), 3u);
}
