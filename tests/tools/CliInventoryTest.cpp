// zoscsictl against a real on-demand service: targets, LUNs, host mappings
// and listings, each in human and JSON form, and the exit codes of the
// refusals a user meets.
#include "CtlHarness.h"

#include <cctype>
#include <regex>

namespace zotest {
namespace {

// The error's one-line rendering: code in decimal and hex, then the message.
const std::regex kErrorLine(R"(^zoscsictl: (error|errno) \d+ \(0x[0-9A-F]+\): .+ \| at )");

class CliInventory : public CtlHarness {
protected:
    void SetUp() override {
        CtlHarness::SetUp();
        ASSERT_EQ(Ctl({"start"}).exitCode, 0);
    }

    void Must(const std::vector<std::string>& args) {
        const ProcessResult r = Ctl(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    // The target with LUNs 1 and 2; LUN 1 mapped to host01.
    void Populate() {
        Must({"target", "add", "tgt01"});
        Must({"lun", "create", "tgt01", "--size", "1M"});
        Must({"lun", "create", "tgt01", "--size", "2M"});
        Must({"map", "tgt01", "1", "host01"});
    }

    // Exit code, and a single stderr line that carries the error's rendering.
    void ExpectRefused(const std::vector<std::string>& args, int exitCode, const std::string& kind) {
        const ProcessResult human = Ctl(args);
        EXPECT_EQ(human.exitCode, exitCode) << human.err;
        EXPECT_EQ(human.out, "");
        EXPECT_TRUE(std::regex_search(human.err, kErrorLine)) << human.err;
        EXPECT_EQ(human.err.find('\n'), human.err.size() - 1) << human.err;

        std::vector<std::string> json = args;
        json.push_back("--json");
        const ProcessResult r = Ctl(json);
        EXPECT_EQ(r.exitCode, exitCode);
        const auto doc = Json(r);
        EXPECT_EQ(doc.at("ok"), "false");
        EXPECT_EQ(doc.at("error.kind"), "\"" + kind + "\"") << r.out;
        EXPECT_EQ(doc.at("error.exit"), std::to_string(exitCode));
    }
};

const std::string kTime = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";

TEST_F(CliInventory, TargetAddListAndRemove) {
    const ProcessResult added = Ctl({"target", "add", "Tgt01", "--params", "note=x"});
    EXPECT_EQ(added.exitCode, 0) << added.err;
    EXPECT_EQ(added.out, "created target tgt01\n");
    const auto json = Json(Ctl({"--json", "target", "add", "tgt02"}));
    EXPECT_EQ(json.at("ok"), "true");
    EXPECT_EQ(json.at("result.target"), "\"tgt02\"");

    EXPECT_TRUE(std::regex_match(Ctl({"targets"}).out,
                                 std::regex("TARGET  LUNS  OPEN  MAPPINGS  CREATED \\(UTC\\)\n"
                                            "tgt01   0     0     0         " + kTime + "\n"
                                            "tgt02   0     0     0         " + kTime + "\n")))
        << Ctl({"targets"}).out;
    const auto listed = Json(Ctl({"targets", "--json"}));
    EXPECT_EQ(listed.at("command"), "\"target ls\"");
    EXPECT_EQ(listed.at("result.targets.0.name"), "\"tgt01\"");
    EXPECT_EQ(listed.at("result.targets.1.name"), "\"tgt02\"");

    EXPECT_EQ(Ctl({"target", "rm", "TGT01"}).out, "removed target tgt01\n");
    EXPECT_EQ(Json(Ctl({"target", "rm", "tgt02", "--json"})).at("result.target"), "\"tgt02\"");
    EXPECT_EQ(Ctl({"targets"}).out, "no targets\n");
    EXPECT_EQ(Json(Ctl({"targets", "--json"})).at("result.targets"), "[]");
}

TEST_F(CliInventory, TargetRefusals) {
    Must({"target", "add", "tgt01"});
    ExpectRefused({"target", "add", "tgt01"}, 4, "already_exists");
    ExpectRefused({"target", "rm", "nosuch"}, 3, "not_found");
    ExpectRefused({"target", "add", "bad_name!"}, 5, "invalid_argument");
    Must({"lun", "create", "tgt01"});
    ExpectRefused({"target", "rm", "tgt01"}, 8, "busy");
}

TEST_F(CliInventory, AlreadyExistsCarriesTheHostCode) {
    Must({"target", "add", "tgt01"});
    const auto doc = Json(Ctl({"--json", "target", "add", "tgt01"}));
    EXPECT_EQ(doc.at("error.code"), "183");
    EXPECT_EQ(doc.at("error.hex"), "\"0xB7\"");
    EXPECT_EQ(doc.at("error.service_error"), "7");
}

TEST_F(CliInventory, LunLifecycle) {
    Must({"target", "add", "tgt01"});
    const ProcessResult created = Ctl({"lun", "create", "tgt01", "--size", "64M", "--setting", "3"});
    EXPECT_EQ(created.exitCode, 0) << created.err;
    EXPECT_TRUE(std::regex_match(created.out, std::regex(R"(created LUN 1 \(.+\) in target tgt01\n)"))) << created.out;

    const auto second = Json(Ctl({"--json", "lun", "create", "tgt01"}));
    EXPECT_EQ(second.at("result.lun"), "2");
    EXPECT_EQ(second.at("result.target"), "\"tgt01\"");
    EXPECT_NE(second.at("result.name"), "\"\"");

    EXPECT_EQ(Ctl({"lun", "close", "tgt01", "1"}).out, "closed LUN 1 in target tgt01\n");
    const ProcessResult opened = Ctl({"lun", "open", "tgt01", "1"});
    EXPECT_EQ(opened.exitCode, 0) << opened.err;
    EXPECT_TRUE(std::regex_match(opened.out, std::regex(R"(opened LUN 1 \(.+\) in target tgt01\n)"))) << opened.out;
    EXPECT_EQ(Json(Ctl({"--json", "lun", "close", "tgt01", "2"})).at("result.lun"), "2");

    EXPECT_EQ(Ctl({"lun", "rm", "tgt01", "1"}).out, "removed LUN 1 from target tgt01\n");
    EXPECT_EQ(Json(Ctl({"--json", "lun", "rm", "tgt01", "2"})).at("ok"), "true");
    EXPECT_EQ(Ctl({"ls"}).out, "no LUNs\n");
}

TEST_F(CliInventory, SizeBecomesTheServicesSizeOption) {
    Must({"target", "add", "tgt01"});
    EXPECT_EQ(Json(Ctl({"--json", "lun", "create", "tgt01", "--size", "1G"})).at("result.options"), "\"-s 1G\"");
    ExpectRefused({"lun", "create", "tgt01", "--size", "lots"}, 5, "invalid_argument");
}

TEST_F(CliInventory, LunRefusals) {
    Must({"target", "add", "tgt01"});
    ExpectRefused({"lun", "create", "nosuch"}, 3, "not_found");
    ExpectRefused({"lun", "open", "tgt01", "9"}, 3, "not_found");
    ExpectRefused({"lun", "close", "tgt01", "9"}, 3, "not_found");
    ExpectRefused({"lun", "rm", "tgt01", "9"}, 3, "not_found");
    Must({"lun", "create", "tgt01"});
    Must({"map", "tgt01", "1", "host01"});
    ExpectRefused({"lun", "rm", "tgt01", "1"}, 8, "busy");
}

TEST_F(CliInventory, MapUnmapAndTheirRefusals) {
    Must({"target", "add", "tgt01"});
    Must({"lun", "create", "tgt01"});
    EXPECT_EQ(Ctl({"map", "tgt01", "1", "host01"}).out, "mapped LUN 1 of target tgt01 to host host01\n");
    const auto mapped = Json(Ctl({"--json", "map", "tgt01", "1", "Host02"}));
    EXPECT_EQ(mapped.at("result.host"), "\"Host02\"");  // host names keep their case
    ExpectRefused({"map", "tgt01", "1", "host01"}, 4, "already_exists");
    ExpectRefused({"map", "tgt01", "7", "host01"}, 3, "not_found");
    ExpectRefused({"map", "tgt01", "1", "bad host"}, 5, "invalid_argument");

    EXPECT_EQ(Ctl({"unmap", "tgt01", "1", "host01"}).out, "unmapped LUN 1 of target tgt01 from host host01\n");
    ExpectRefused({"unmap", "tgt01", "1", "host01"}, 3, "not_found");
}

TEST_F(CliInventory, RemapMovesTheMapping) {
    Populate();
    const ProcessResult r = Ctl({"remap", "tgt01", "1", "host01", "host02"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "remapped LUN 1 of target tgt01 from host host01 to host host02\n");
    const auto doc = Json(Ctl({"--json", "ls", "--host", "host02"}));
    EXPECT_EQ(doc.at("result.luns.0.lun"), "1");
    EXPECT_EQ(Json(Ctl({"--json", "ls", "--host", "host01"})).at("result.luns"), "[]");

    const auto back = Json(Ctl({"--json", "remap", "tgt01", "1", "host02", "host01"}));
    EXPECT_EQ(back.at("result.from"), "\"host02\"");
    EXPECT_EQ(back.at("result.to"), "\"host01\"");
}

TEST_F(CliInventory, RemapFromAnUnmappedHostIsNotFound) {
    Populate();
    ExpectRefused({"remap", "tgt01", "1", "nosuch", "host02"}, 3, "not_found");
}

TEST_F(CliInventory, RefusedRemapPutsTheOldMappingBack) {
    Populate();
    const ProcessResult r = Ctl({"remap", "tgt01", "1", "host01", "bad host"});
    EXPECT_EQ(r.exitCode, 5) << r.err;
    EXPECT_NE(r.err.find("mapping of LUN 1 to host host01 restored"), std::string::npos) << r.err;
    const auto doc = Json(Ctl({"--json", "ls", "--host", "host01"}));
    EXPECT_EQ(doc.at("result.luns.0.lun"), "1");
    EXPECT_EQ(doc.at("result.luns.0.target"), "\"tgt01\"");
}

TEST_F(CliInventory, ListingInFullAsATable) {
    Populate();
    Must({"map", "tgt01", "1", "host02"});
    const ProcessResult r = Ctl({"ls"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // One line per LUN and host it is mapped to; "-" for an unmapped LUN.
    const std::regex table("TARGET  LUN  HOST    CREATED \\(UTC\\)\n"
                           "tgt01   1    host01  " + kTime + "\n"
                           "tgt01   1    host02  " + kTime + "\n"
                           "tgt01   2    -       " + kTime + "\n");
    EXPECT_TRUE(std::regex_match(r.out, table)) << r.out;
}

TEST_F(CliInventory, ListingAsJson) {
    Populate();
    const ProcessResult r = Ctl({"ls", "--json"});
    EXPECT_EQ(r.exitCode, 0);
    const auto doc = Json(r);
    EXPECT_EQ(doc.at("ok"), "true");
    EXPECT_EQ(doc.at("result.filter.target"), "null");
    EXPECT_EQ(doc.at("result.filter.host"), "null");
    EXPECT_EQ(doc.at("result.luns.0.target"), "\"tgt01\"");
    EXPECT_EQ(doc.at("result.luns.0.lun"), "1");
    EXPECT_EQ(doc.at("result.luns.0.host"), "\"host01\"");
    EXPECT_TRUE(std::regex_match(doc.at("result.luns.0.created"), std::regex(R"(\d+)")));
    EXPECT_TRUE(std::regex_match(doc.at("result.luns.0.created_utc"), std::regex(R"("\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")")));
    EXPECT_EQ(doc.at("result.luns.0.size_bytes"), "1048576");
    EXPECT_EQ(doc.at("result.luns.0.state"), "\"open\"");
    EXPECT_EQ(doc.at("result.luns.0.export"), "null");  // the inventory backend exports nothing
    EXPECT_EQ(doc.at("result.luns.1.lun"), "2");
    EXPECT_EQ(doc.at("result.luns.1.host"), "null");
    EXPECT_EQ(doc.at("result.luns.1.size_bytes"), "2097152");
    EXPECT_EQ(doc.count("result.luns.2.lun"), 0u);
}

TEST_F(CliInventory, LongListingShowsSizeStateAndExport) {
    Populate();
    Must({"lun", "close", "tgt01", "2"});
    const ProcessResult r = Ctl({"ls", "-l"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::regex table("TARGET  LUN  HOST    STATE   SIZE   BYTES    EXPORT  CREATED \\(UTC\\)\n"
                           "tgt01   1    host01  open    1 MiB  1048576  -       " + kTime + "\n"
                           "tgt01   2    -       closed  2 MiB  2097152  -       " + kTime + "\n");
    EXPECT_TRUE(std::regex_match(r.out, table)) << r.out;
    EXPECT_EQ(Ctl({"ls", "--long", "--target", "TGT01", "--host", "host01"}).out.find("tgt01   2"), std::string::npos);
}

TEST_F(CliInventory, TargetListingCountsLunsAndMappings) {
    Populate();
    Must({"target", "add", "tgt02"});
    Must({"lun", "close", "tgt01", "2"});
    const auto doc = Json(Ctl({"--json", "target", "ls"}));
    EXPECT_EQ(doc.at("result.targets.0.name"), "\"tgt01\"");
    EXPECT_EQ(doc.at("result.targets.0.luns"), "2");
    EXPECT_EQ(doc.at("result.targets.0.open_luns"), "1");
    EXPECT_EQ(doc.at("result.targets.0.mappings"), "1");
    EXPECT_EQ(doc.at("result.targets.1.luns"), "0");
}

struct FilterCase {
    std::vector<std::string> args;
    std::vector<std::string> rows;  // "target lun host" of each listed record
};

void PrintTo(const FilterCase& c, std::ostream* os) {
    for (const auto& arg : c.args) *os << arg << ' ';
}

class CliListingFilters : public CliInventory, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(CliListingFilters, ListExactlyTheMatchingRecords) {
    Must({"target", "add", "tgt01"});
    Must({"target", "add", "tgt02"});
    Must({"lun", "create", "tgt01"});
    Must({"lun", "create", "tgt01"});
    Must({"lun", "create", "tgt02"});
    Must({"map", "tgt01", "1", "host01"});
    Must({"map", "tgt02", "1", "host01"});
    Must({"map", "tgt02", "1", "host02"});

    std::vector<std::string> args{"--json", "ls"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const ProcessResult r = Ctl(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto doc = Json(r);
    std::vector<std::string> rows;
    for (size_t i = 0; doc.count("result.luns." + std::to_string(i) + ".lun"); ++i) {
        const std::string p = "result.luns." + std::to_string(i) + ".";
        rows.push_back(doc.at(p + "target") + " " + doc.at(p + "lun") + " " + doc.at(p + "host"));
    }
    EXPECT_EQ(rows, GetParam().rows) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliListingFilters,
    ::testing::Values(
        FilterCase{{"--target", "tgt01"}, {"\"tgt01\" 1 \"host01\"", "\"tgt01\" 2 null"}},
        FilterCase{{"--target", "TGT02"}, {"\"tgt02\" 1 \"host01\"", "\"tgt02\" 1 \"host02\""}},
        FilterCase{{"--host", "host01"}, {"\"tgt01\" 1 \"host01\"", "\"tgt02\" 1 \"host01\""}},
        FilterCase{{"--host", "host02"}, {"\"tgt02\" 1 \"host02\""}},
        FilterCase{{"--host", "HOST02"}, {}},
        FilterCase{{"--target", "tgt02", "--host", "host02"}, {"\"tgt02\" 1 \"host02\""}},
        FilterCase{{"--target", "tgt01", "--host", "host02"}, {}}),
    [](const auto& info) {
        std::string name;
        for (const auto& arg : info.param.args)
            for (char ch : arg) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST_F(CliInventory, FilteredListingAsATable) {
    Populate();
    const ProcessResult r = Ctl({"ls", "--host", "host01"});
    EXPECT_TRUE(std::regex_match(r.out, std::regex("TARGET  LUN  HOST    CREATED \\(UTC\\)\n"
                                                   "tgt01   1    host01  " + kTime + "\n")))
        << r.out;
    EXPECT_EQ(Ctl({"ls", "--host", "nobody"}).out, "no LUNs\n");
}

TEST_F(CliInventory, ListingRefusals) {
    Populate();
    ExpectRefused({"ls", "--target", "nosuch"}, 3, "not_found");
    ExpectRefused({"ls", "-l", "--target", "nosuch"}, 3, "not_found");
    EXPECT_NE(Ctl({"ls", "--target", "NoSuch"}).err.find("no such target 'nosuch'"), std::string::npos);
    ExpectRefused({"ls", "--target", ""}, 5, "invalid_argument");
    ExpectRefused({"ls", "--host", ""}, 5, "invalid_argument");
    ExpectRefused({"ls", "--target", "tgt01", "--host", ""}, 5, "invalid_argument");
}

}  // namespace
}  // namespace zotest
