// Rendering of outcomes: tables, times, LUN records, and what a failure
// prints on each stream.
#include "Output.h"

#include "FXErrorUtil.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using namespace zoctl;
using LunInfo = ZoScsiSrvClient::LunInfo;

TEST(RenderTable, AlignsColumnsAndLeavesNoTrailingBlanks) {
    const Table table{{"TARGET", "LUN", "HOST"}, {{"tgt01", "1", "-"}, {"a-much-longer-target", "12", "host01"}}};
    EXPECT_EQ(RenderTable(table),
              "TARGET                LUN  HOST\n"
              "tgt01                 1    -\n"
              "a-much-longer-target  12   host01\n");
}

TEST(RenderTable, ShowsControlBytesEscaped) {
    const Table table{{"A", "B"}, {{"x\ty", "\x1b[2J"}}};
    EXPECT_EQ(RenderTable(table), "A       B\nx\\x09y  \\x1b[2J\n");
}

struct TimeCase {
    int64_t epoch;
    const char* human;
    const char* iso;  // nullptr: JSON null
};

void PrintTo(const TimeCase& c, std::ostream* os) { *os << c.epoch; }

class Times : public ::testing::TestWithParam<TimeCase> {};

TEST_P(Times, RenderInUtc) {
    const auto& c = GetParam();
    EXPECT_EQ(FormatUtc(c.epoch), c.human);
    EXPECT_EQ(Dump(IsoUtc(c.epoch)), c.iso ? std::string("\"") + c.iso + "\"" : "null");
}

INSTANTIATE_TEST_SUITE_P(Table, Times,
                         ::testing::Values(TimeCase{1, "1970-01-01 00:00:01", "1970-01-01T00:00:01Z"},
                                           TimeCase{1765274462, "2025-12-09 10:01:02", "2025-12-09T10:01:02Z"},
                                           TimeCase{0, "-", nullptr},         // the listing carried no time
                                           TimeCase{-1, "1969-12-31 23:59:59", "1969-12-31T23:59:59Z"},
                                           TimeCase{LLONG_MAX, "-", nullptr}));  // beyond the calendar

TEST(LunArray, RecordsWithAndWithoutHostAndTime) {
    const std::vector<LunInfo> luns{{"1", "tgt01", "host01", 1765274462}, {"2", "tgt01", "", 0}, {"x7", "t", "", 5}};
    EXPECT_EQ(Dump(LunArray(luns)),
              R"([{"target":"tgt01","lun":1,"host":"host01","created":1765274462,"created_utc":"2025-12-09T10:01:02Z"},)"
              R"({"target":"tgt01","lun":2,"host":null,"created":null,"created_utc":null},)"
              R"({"target":"t","lun":"x7","host":null,"created":5,"created_utc":"1970-01-01T00:00:05Z"}])");
}

TEST(LunTable, UnmappedHostShowsAsDash) {
    const Table table = LunTable({{"3", "tgt01", "", 1}});
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(table.rows[0], (std::vector<std::string>{"tgt01", "3", "-", "1970-01-01 00:00:01"}));
}

TEST(HumanSize, BinaryUnitsWithOneDecimalWhenNotWhole) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0 B"},          {512, "512 B"},          {1024, "1 KiB"},
        {1536, "1.5 KiB"},   {64ull << 20, "64 MiB"}, {(1ull << 30) + 1, "1 GiB"},
        {(1ull << 30) - 40000, "1 GiB"},  // rounds up into the next unit, never "1024 MiB"
        {~0ull, "16 EiB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(HumanSize(bytes), text) << bytes;
}

TEST(ParseDetails, LinesOfTheDetailedWords) {
    LunDetail lun;
    ASSERT_TRUE(ParseLunDetail("tgt01#h1#3#1700000000#1048576#open#iqn.x:tgt01.h1", lun));
    EXPECT_EQ(Dump(LunDetailArray({lun})),
              R"([{"target":"tgt01","lun":3,"host":"h1","created":1700000000,"created_utc":"2023-11-14T22:13:20Z",)"
              R"("size_bytes":1048576,"state":"open","export":{"initiator":"h1","target_iqn":"iqn.x:tgt01.h1"}}])");
    ASSERT_TRUE(ParseLunDetail("tgt01#-#4#0#512#closed#-#a-later-field", lun));
    EXPECT_EQ(Dump(LunDetailArray({lun})),
              R"([{"target":"tgt01","lun":4,"host":null,"created":null,"created_utc":null,)"
              R"("size_bytes":512,"state":"closed","export":null}])");
    for (const char* bad : {"tgt01#h1#3#1700000000#1048576#open", "tgt01#h1#3#1700000000#1048576#ajar#-",
                            "tgt01#h1#3#1700000000#-1#open#-", "tgt01#h1#3#17x#1#open#-", ""})
        EXPECT_FALSE(ParseLunDetail(bad, lun)) << bad;

    TargetDetail target;
    ASSERT_TRUE(ParseTargetDetail("tgt01#2#1#3#1700000000", target));
    EXPECT_EQ(Dump(TargetArray({target})),
              R"([{"name":"tgt01","luns":2,"open_luns":1,"mappings":3,"created":1700000000,)"
              R"("created_utc":"2023-11-14T22:13:20Z"}])");
    for (const char* bad : {"tgt01#2#1#3", "tgt01#2#1#x#1700000000", "tgt01"})
        EXPECT_FALSE(ParseTargetDetail(bad, target)) << bad;
}

CYbError NotFound() {
    CYbError error = FXErrorUtil::ErrorWin32(FXCodeLocation("ZoScsiSrvClient", "DeleteTarget", 10), 774,
                                             "Failed to delete target %s, errNum=%d, errString=%s", "t", 2, "gone");
    error.SetPeerStatus(2, "gone");  // as the library attaches it
    error.Push(FXCodeLocation("zoscsictl", "caller", 20), "pushed");
    return error;
}

TEST(Render, FailurePrintsTheOneLineOnStderrAndNothingOnStdout) {
    const Printed p = Render(Outcome::Failed(NotFound()), "target rm", false);
    EXPECT_EQ(p.exitCode, kExitNotFound);
    EXPECT_EQ(p.out, "");
    EXPECT_EQ(p.err, "zoscsictl: " + NotFound().ToString() + "\n");
}

TEST(Render, FailureAsJsonCarriesCodeNumberMessageAndTrail) {
    const CYbError error = NotFound();
    const Printed p = Render(Outcome::Failed(error), "target rm", true);
    EXPECT_EQ(p.exitCode, kExitNotFound);
    EXPECT_EQ(p.err, "zoscsictl: " + error.ToString() + "\n");
    EXPECT_EQ(p.out,
              std::string(R"({"ok":false,"command":"target rm","error":{"kind":"not_found","exit":3,"code":774,"hex":"0x306","space":"host",)") +
                  R"("service_error":2,"service_text":"gone","message":"Failed to delete target t, errNum=2, errString=gone","trail":[)" +
                  R"({"file":"ZoScsiSrvClient","function":"DeleteTarget","line":10,"text":"Failed to delete target t, errNum=2, errString=gone"},)" +
                  R"({"file":"zoscsictl","function":"caller","line":20,"text":"pushed"}],"text":)" +
                  Dump(Json(error.ToString())) + "}}\n");
}

// The reload's and the listings' messages are fixed: the service's own
// reason is shown beside them, once.
TEST(Render, AFixedMessageIsFollowedByTheServicesReason) {
    CYbError error = FXErrorUtil::ErrorWin32(FXCodeLocation("ZoScsiSrvClient", "ReloadConfiguration", 10), 774,
                                             "Failed to reload iSCSI service configuration.");
    error.SetPeerStatus(22, "[ZoScsiSrv] DefaultLunSize: \"huge\" is not a size");
    const Printed p = Render(Outcome::Failed(error), "reload", false);
    EXPECT_EQ(p.exitCode, kExitInvalidArgument);
    EXPECT_EQ(p.err, "zoscsictl: " + error.ToString() +
                         "\nzoscsictl: the service answered 22: [ZoScsiSrv] DefaultLunSize: \"huge\" is not a size\n");
    EXPECT_EQ(Render(Outcome::Failed(NotFound()), "target rm", false).err.find("the service answered"),
              std::string::npos)
        << "a message that holds the text already is not repeated";
}

TEST(Render, ConnectFailureIsUnreachable) {
    const CYbError error = FXErrorUtil::ErrorWin32(FXCodeLocation("f", "g", 1), 774, "launch failed");
    EXPECT_EQ(Render(Outcome::Failed(error, Stage::Connect), "start", false).exitCode, kExitUnreachable);
}

TEST(Render, SuccessPrintsTableThenLinesOrOneDocument) {
    Outcome o;
    o.table = Table{{"A"}, {{"1"}}};
    o.lines = {"done"};
    o.result["x"] = 1;
    const Printed human = Render(o, "ls", false);
    EXPECT_EQ(human.exitCode, 0);
    EXPECT_EQ(human.out, "A\n1\ndone\n");
    EXPECT_EQ(human.err, "");
    const Printed json = Render(o, "ls", true);
    EXPECT_EQ(json.out, R"({"ok":true,"command":"ls","result":{"x":1}})" "\n");
    EXPECT_EQ(json.err, "");
}

TEST(Render, UsageErrorIsExitTwoWithOptionalDocument) {
    EXPECT_EQ(RenderUsageError("bad", "", false).out, "");
    const Printed p = RenderUsageError("bad \"x\"", "", true);
    EXPECT_EQ(p.exitCode, kExitUsage);
    EXPECT_EQ(p.out, R"({"ok":false,"command":null,"error":{"kind":"usage","exit":2,"message":"bad \"x\""}})" "\n");
    EXPECT_EQ(RenderUsageError("bad", "map", true).out,
              R"({"ok":false,"command":"map","error":{"kind":"usage","exit":2,"message":"bad"}})" "\n");
    EXPECT_EQ(p.err, "zoscsictl: bad \"x\"\n");
}

}  // namespace
