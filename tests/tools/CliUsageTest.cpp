// zoscsictl's command line: help on every command, and usage errors that
// never reach the service.
#include "CtlHarness.h"

#include <cctype>
#include <filesystem>
#include <regex>

namespace zotest {
namespace {

using CliUsage = CtlHarness;

class CliHelp : public CtlHarness, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(CliHelp, EveryCommandHasHelpWithExamples) {
    std::vector<std::string> args = GetParam();
    args.push_back("--help");
    const ProcessResult r = CtlRaw(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Examples:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("zoscsictl"), std::string::npos) << r.out;
    for (const char* global : {"--client NAME", "--log-level N", "--json"})
        EXPECT_NE(r.out.find(global), std::string::npos) << global << " missing in: " << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliHelp,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"start"},
                      std::vector<std::string>{"reload"}, std::vector<std::string>{"status"},
                      std::vector<std::string>{"restart"},
                      std::vector<std::string>{"target", "add"}, std::vector<std::string>{"target", "rm"},
                      std::vector<std::string>{"targets"}, std::vector<std::string>{"target", "ls"},
                      std::vector<std::string>{"lun", "create"},
                      std::vector<std::string>{"lun", "open"}, std::vector<std::string>{"lun", "close"},
                      std::vector<std::string>{"lun", "rm"}, std::vector<std::string>{"map"},
                      std::vector<std::string>{"unmap"}, std::vector<std::string>{"remap"},
                      std::vector<std::string>{"ls"}),
    [](const auto& info) {
        std::string name = "zoscsictl";
        for (const auto& word : info.param) name += "_" + word;
        return name;
    });

struct UsageCase {
    const char* what;
    std::vector<std::string> args;
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.what; }

class CliUsageErrors : public CtlHarness, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsageErrors, ExitTwoWithoutLaunchingTheService) {
    const ProcessResult human = Ctl(GetParam().args);
    EXPECT_EQ(human.exitCode, 2) << GetParam().what << ": " << human.err;
    EXPECT_EQ(human.out, "");
    EXPECT_EQ(human.err.rfind("zoscsictl: ", 0), 0u) << human.err;

    std::vector<std::string> json = GetParam().args;
    json.push_back("--json");
    const ProcessResult r = Ctl(json);
    EXPECT_EQ(r.exitCode, 2);
    const auto doc = Json(r);
    EXPECT_EQ(doc.at("ok"), "false");
    EXPECT_EQ(doc.at("error.kind"), "\"usage\"");

    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(m_runtime) / "ZoScsiSrv"))
        << "a usage error must not launch the service";
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliUsageErrors,
    ::testing::Values(UsageCase{"no command", {}}, UsageCase{"unknown command", {"frobnicate"}},
                      UsageCase{"group without command", {"lun"}},
                      UsageCase{"missing argument", {"map", "tgt01", "1"}},
                      UsageCase{"extra argument", {"target", "rm", "a", "b"}},
                      UsageCase{"LUN not a number", {"map", "tgt01", "one", "host01"}},
                      UsageCase{"LUN out of range", {"lun", "rm", "tgt01", "2147483648"}},
                      UsageCase{"setting out of range", {"lun", "create", "tgt01", "--setting", "4294967296"}},
                      UsageCase{"size of two words", {"lun", "create", "tgt01", "--size", "1 G"}},
                      UsageCase{"empty size", {"lun", "create", "tgt01", "--size", ""}},
                      UsageCase{"log level out of range", {"--log-level", "9", "targets"}},
                      UsageCase{"unknown option", {"targets", "--bogus"}}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST_F(CliUsage, GlobalOptionsAfterTheCommand) {
    const ProcessResult r = CtlRaw({"start", "--client", "late", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Json(r).at("result.client"), "\"late\"");
}

}  // namespace
}  // namespace zotest
