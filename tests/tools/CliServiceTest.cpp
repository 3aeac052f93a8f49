// zoscsictl against a real on-demand service: reaching it, starting it,
// asking whether it is up, and what happens when it cannot be reached.
#include "CtlHarness.h"

#include <unistd.h>

#include <cctype>

#include <filesystem>
#include <regex>

namespace zotest {
namespace {

namespace fs = std::filesystem;

using CliService = CtlHarness;

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST_F(CliService, StartPrintsConfirmationAndJson) {
    const ProcessResult human = Ctl({"start"});
    EXPECT_EQ(human.exitCode, 0) << human.err;
    EXPECT_EQ(human.out, "started the SCSI service (iSCSI) for client ctltest\n");
    EXPECT_EQ(human.err, "");  // the default log level keeps a success quiet

    const ProcessResult json = Ctl({"--json", "start"});
    EXPECT_EQ(json.exitCode, 0);
    const auto doc = Json(json);
    EXPECT_EQ(doc.at("ok"), "true");
    EXPECT_EQ(doc.at("result.client"), "\"ctltest\"");
    EXPECT_EQ(doc.at("result.fabric"), "\"iscsi\"");
}

TEST_F(CliService, StatusWithAndWithoutValidation) {
    const ProcessResult plain = Ctl({"status"});
    EXPECT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(FirstLine(plain.out), "ZoScsiSrv for client ctltest: up");

    const ProcessResult validated = Ctl({"status", "--validate"});
    EXPECT_EQ(validated.exitCode, 0) << validated.err;
    EXPECT_EQ(FirstLine(validated.out), "ZoScsiSrv for client ctltest: up, session validated");

    const auto doc = Json(Ctl({"status", "--validate", "--json"}));
    EXPECT_EQ(doc.at("ok"), "true");
    EXPECT_EQ(doc.at("result.up"), "true");
    EXPECT_EQ(doc.at("result.validated"), "true");
}

TEST_F(CliService, StatusShowsTheServicesDetails) {
    ASSERT_EQ(Ctl({"target", "add", "tgt01"}).exitCode, 0);
    const ProcessResult human = Ctl({"status"});
    EXPECT_TRUE(std::regex_search(human.out, std::regex(R"(\n  backend: +inventory\n)"))) << human.out;
    EXPECT_TRUE(std::regex_search(human.out, std::regex(R"(\n  targets: +1\n)"))) << human.out;

    const auto doc = Json(Ctl({"--json", "status"}));
    EXPECT_EQ(doc.at("result.service.client"), "\"ctltest\"");
    EXPECT_EQ(doc.at("result.service.backend"), "\"inventory\"");
    EXPECT_EQ(doc.at("command"), "\"status\"");
    EXPECT_EQ(doc.at("result.service.targets"), "1");
    EXPECT_EQ(doc.at("result.service.started"), "true");  // the service's "yes", as a boolean
    EXPECT_EQ(doc.at("result.service.open_luns"), "0");   // its "open-luns", in the one key style
    EXPECT_TRUE(std::regex_match(doc.at("result.service.pid"), std::regex(R"([1-9][0-9]*)")));
}

TEST_F(CliService, TheServiceIsLaunchedOnceAndReused) {
    ASSERT_EQ(Ctl({"start"}).exitCode, 0);
    const fs::path pidFile = fs::path(m_runtime) / "ZoScsiSrv" / kClient / "pid";
    ASSERT_TRUE(fs::exists(pidFile));
    const auto before = fs::last_write_time(pidFile);
    ASSERT_EQ(Ctl({"status"}).exitCode, 0);
    EXPECT_EQ(fs::last_write_time(pidFile), before);
}

TEST_F(CliService, DefaultClientIsTheMangledHostName) {
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    std::string mangled;
    for (const char* c = host; *c && *c != '.'; ++c) {
        const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        mangled += ((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9') || l == '-') ? l : '-';
    }
    const ProcessResult r = CtlRaw({"status"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FirstLine(r.out), "ZoScsiSrv for client " + mangled + ": up");
    EXPECT_TRUE(fs::exists(fs::path(m_runtime) / "ZoScsiSrv" / mangled / "pid"));
}

TEST_F(CliService, ReloadOfTheServiceWord) {
    const ProcessResult r = Ctl({"reload", "reload"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "reloaded (reload)\n");
    EXPECT_EQ(Json(Ctl({"--json", "reload"})).at("command"), "\"reload\"");  // the default word
}

TEST_F(CliService, UnknownReloadWordFails) {
    const ProcessResult r = Ctl({"reload", "no-such-word"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("zoscsictl: error 774 (0x306): ", 0), 0u) << r.err;
}

TEST_F(CliService, UnregisteredServiceIsUnreachable) {
    WriteConfig("[OnDemandServices]\n");
    const ProcessResult human = Ctl({"start"});
    EXPECT_EQ(human.exitCode, 7);
    EXPECT_EQ(human.out, "");
    EXPECT_TRUE(std::regex_search(human.err, std::regex(R"(^zoscsictl: (error|errno) \d+ \(0x[0-9A-F]+\): )")))
        << human.err;
    EXPECT_EQ(human.err.find('\n'), human.err.size() - 1) << "one line: " << human.err;

    const ProcessResult json = Ctl({"--json", "targets"});
    EXPECT_EQ(json.exitCode, 7);
    const auto doc = Json(json);
    EXPECT_EQ(doc.at("ok"), "false");
    EXPECT_EQ(doc.at("error.kind"), "\"unreachable\"");
    EXPECT_EQ(doc.at("error.exit"), "7");
    EXPECT_TRUE(doc.count("error.trail.0.function")) << json.out;
}

TEST_F(CliService, ClientNameTheLauncherRefusesIsAnInvalidArgument) {
    const ProcessResult r = CtlRaw({"--client", "a b", "status"});
    EXPECT_EQ(r.exitCode, 5) << r.err;
    EXPECT_NE(r.err.find("bad client name"), std::string::npos) << r.err;
}

TEST_F(CliService, ServiceProgramThatCannotStartIsUnreachable) {
    WriteConfig("[OnDemandServices]\nZoScsiSrv = " + m_dir + "/no-such-program\n");
    const ProcessResult r = Ctl({"status"});
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_EQ(r.out, "");
}

TEST_F(CliService, LogLevelOneShowsTheLibrarysSuccessLines) {
    const ProcessResult r = Ctl({"--log-level", "1", "target", "add", "tgtlog"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("tgtlog"), std::string::npos) << r.err;
    const ProcessResult quiet = Ctl({"--log-level", "-2", "target", "add", "tgtlog"});
    EXPECT_EQ(quiet.exitCode, 4);
    // The failure itself is still reported, once.
    EXPECT_EQ(quiet.err.find('\n'), quiet.err.size() - 1) << quiet.err;
}

}  // namespace
}  // namespace zotest
