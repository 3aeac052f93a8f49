// zoscsictl against a real on-demand service: reaching it, starting it,
// asking whether it is up, and what happens when it cannot be reached.
#include "CtlHarness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

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

// status looks, never launches: with nothing running it says "down"
// (exit 7) and starts nothing; any other command starts an instance.
TEST_F(CliService, StatusNeverStartsTheServiceAndSaysDown) {
    const ProcessResult down = Ctl({"status"});
    EXPECT_EQ(down.exitCode, 7);
    EXPECT_EQ(down.out, "");
    EXPECT_NE(down.err.find("ZoScsiSrv for client ctltest is down: no instance runs"), std::string::npos) << down.err;
    EXPECT_FALSE(fs::exists(fs::path(m_runtime) / "ZoScsiSrv" / kClient)) << "nothing was launched";
    const auto doc = Json(Ctl({"--json", "status"}));
    EXPECT_EQ(doc.at("ok"), "false");
    EXPECT_EQ(doc.at("error.kind"), "\"unreachable\"");

    ASSERT_EQ(Ctl({"targets"}).exitCode, 0);
    EXPECT_EQ(FirstLine(Ctl({"status"}).out), "ZoScsiSrv for client ctltest: up");
}

TEST_F(CliService, StatusWithAndWithoutValidation) {
    ASSERT_EQ(Ctl({"start"}).exitCode, 0);
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
    ASSERT_EQ(CtlRaw({"start"}).exitCode, 0);
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

// The reload's message is fixed; the service's reason is shown beside it.
TEST_F(CliService, UnknownReloadWordFailsWithTheServicesReason) {
    const ProcessResult r = Ctl({"reload", "no-such-word"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("zoscsictl: error 774 (0x306): Failed to reload iSCSI service configuration.", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find("\nzoscsictl: the service answered 38: unknown command word \"no-such-word\""),
              std::string::npos)
        << r.err;
    const auto doc = Json(Ctl({"--json", "reload", "no-such-word"}));
    EXPECT_EQ(doc.at("error.service_error"), "38");
    EXPECT_EQ(doc.at("error.service_text").rfind("\"unknown command word", 0), 0u) << doc.at("error.service_text");
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

TEST_F(CliService, ServiceProgramThatCannotStartIsUnreachableWithTheReason) {
    WriteConfig("[OnDemandServices]\nZoScsiSrv = " + m_dir + "/no-such-program\n");
    const ProcessResult r = Ctl({"start"});
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("zoscsictl: launch error 2 (0x2): ZoScsiSrv for client ctltest: it did not start: cannot start " +
                         m_dir + "/no-such-program"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Json(Ctl({"--json", "start"})).at("error.space"), "\"launch\"");
}

// A stopped (SIGSTOP) instance is named within the time limit, never
// replaced behind its back; restart asks it to stop, and with --force kills
// it after verifying it; then commands work on the same inventory, without
// anyone touching a file.
TEST_F(CliService, AFrozenInstanceIsNamedAndRestartForceRecoversIt) {
    ASSERT_EQ(Ctl({"target", "add", "kept"}).exitCode, 0);
    long pid = 0;
    std::ifstream(fs::path(m_runtime) / "ZoScsiSrv" / kClient / "pid") >> pid;
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(static_cast<pid_t>(pid), SIGSTOP), 0);

    const auto start = std::chrono::steady_clock::now();
    const ProcessResult frozen = Ctl({"--timeout", "2", "targets"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    EXPECT_EQ(frozen.exitCode, 7);
    for (const std::string& part : {"(pid " + std::to_string(pid) + ") did not answer within 2 s",
                                    std::string("it is stopped"),
                                    std::string("[to end it and start afresh: zoscsictl --client ctltest restart --force]")})
        EXPECT_NE(frozen.err.find(part), std::string::npos) << part << " in " << frozen.err;

    const ProcessResult polite = Ctl({"--timeout", "2", "restart"});
    EXPECT_EQ(polite.exitCode, 7);
    EXPECT_NE(polite.err.find("it is stopped; force it"), std::string::npos) << polite.err;
    EXPECT_EQ(kill(static_cast<pid_t>(pid), 0), 0) << "still there";

    const ProcessResult forced = Ctl({"restart", "--force"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
    EXPECT_EQ(FirstLine(forced.out), "restarted ZoScsiSrv for client ctltest (stopped pid " + std::to_string(pid) + ")");
    const ProcessResult again = Ctl({"targets"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("\nkept "), std::string::npos) << again.out;
}

// Past --timeout (and a short grace) the command gives up whatever it waits
// for, here another launcher's lock on the instance, and says so (exit 6).
TEST_F(CliService, TheTimeoutBoundsTheWholeCommand) {
    ASSERT_EQ(Ctl({"start"}).exitCode, 0);
    const fs::path lockPath = fs::path(m_runtime) / "ZoScsiSrv" / kClient / "lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult r = Ctl({"--timeout", "1", "--json", "targets"});
    const auto took = std::chrono::steady_clock::now() - start;
    close(lock);
    EXPECT_EQ(r.exitCode, 6) << r.err;
    EXPECT_GE(took, std::chrono::seconds(1));
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_NE(r.err.find("no answer within 1 s (--timeout"), std::string::npos) << r.err;
    EXPECT_EQ(Json(r).at("error.kind"), "\"timeout\"");
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
