// ZOOnDemandSvcClient against a real service program (helpers/EchoService)
// started in a temporary runtime folder with a temporary configuration.
#include "CNSession.h"
#include "support/ReadAll.h"
#include "CZoNetwork.h"
#include "NetTestSupport.h"
#include "ZOOnDemandSvcClient.h"
#include "zo/ServiceListener.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef ZO_TEST_ECHO_SERVICE
#error "ZO_TEST_ECHO_SERVICE must name the echo service program"
#endif

namespace {

namespace W = CNSession::Wire;
using zotest::EnvGuard;

constexpr unsigned long kType = 0x77000001;
constexpr unsigned int kText = 0x11;
constexpr unsigned int kPid = 0x13;
const std::string kEcho = ZO_TEST_ECHO_SERVICE;

// Alive and not a zombie (an exited service may wait for init to reap it).
bool Alive(long pid) {
    const std::string text = zotest::ReadAll("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

// Field 4 (parent) and 6 (session) of /proc/PID/stat.
std::vector<long> StatNumbers(long pid) {
    const std::string text = zotest::ReadAll("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string state;
    long ppid = 0, pgrp = 0, session = 0;
    rest >> state >> ppid >> pgrp >> session;
    return {ppid, session};
}

// Processes whose command line holds `word`.
int ProcessesWith(const std::string& word) {
    int count = 0;
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = proc ? ::readdir(proc) : nullptr) {
        const long pid = std::atol(entry->d_name);
        if (pid <= 0 || !Alive(pid)) continue;
        const std::string cmdline = zotest::ReadAll(std::string("/proc/") + entry->d_name + "/cmdline");
        if (cmdline.find(word) != std::string::npos) ++count;
    }
    if (proc) ::closedir(proc);
    return count;
}

int Mode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

std::string ReadFile(const std::string& path) { return zotest::ReadAll(path); }

struct Launch {
    CYbError result;
    long long errorNumber = -1;
    std::string session;
    std::string service;
    std::string endpoint;
    long long pid = 0;
};

class LauncherTest : public ::testing::Test {
protected:
    LauncherTest()
        : runtime("ZO_RUNTIME_DIR", dir / "run"),
          config("ZO_CONFIG", dir / "zo.conf"),
          timeout("ZO_LAUNCH_TIMEOUT", "5"),
          noOverride("ZO_SERVICE_Echo", nullptr) {
        std::ofstream(dir / "zo.conf") << "[OnDemandServices]\n"
                                       << "Echo = " << kEcho << "\n"
                                       << "EchoSlow = " << kEcho << " --delay-ms 300\n"
                                       << "EchoIdle = " << kEcho << "\n"
                                       << "EchoIdle.idle_exit = 1\n"
                                       << "Exit3 = " << kEcho << " --exit 3\n"
                                       << "Exit0 = " << kEcho << " --exit 0\n"
                                       << "Missing = /nonexistent/zo-program\n"
                                       << "NotInPath = zo-no-such-program-anywhere\n"
                                       << "NeverReady = " << kEcho << " --never-ready\n"
                                       << "Refuses = " << kEcho << " --refuse no-state-for-you\n"
                                       << "EchoOne = " << kEcho << " --max-connections 1\n"
                                       << "EchoId = " << kEcho << " --identity ZO_TEST_STATE\n"
                                       << "Empty =\n";
    }

    void TearDown() override {
        for (long long pid : started) {
            if (pid > 0 && Alive(pid)) ::kill(static_cast<pid_t>(pid), SIGTERM);
            if (pid > 0 && !zotest::WaitUntil([&] { return !Alive(pid); }, std::chrono::milliseconds(3000)))
                ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
    }

    Launch Submit(const std::string& service, const std::string& client) {
        ZOOnDemandSvcClient launcher;
        CNSession::LaunchOnDemandServiceReq request;
        request.setstring(2, 5, service, W::kLaunchReqType, W::kLaunchReqServiceName);
        request.setstring(1, 1, client, W::kLaunchReqType, W::kLaunchReqClientName);
        CNSession::LaunchOnDemandServiceDetails details;
        Launch launch;
        launch.result = launcher.SubmitTask(request, details);
        launch.errorNumber = details.getint64(1, W::kLaunchDetailsType, W::kDetailsErrorNumber);
        launch.session = details.getstring(3, 6, W::kLaunchDetailsType, W::kDetailsSessionId);
        launch.service = details.getstring(2, 2, W::kLaunchDetailsType, W::kDetailsServiceName);
        launch.endpoint = details.getstring(4, 4, W::kLaunchDetailsType, W::kDetailsEndpoint);
        launch.pid = details.getint64(5, W::kLaunchDetailsType, W::kDetailsProcessId);
        std::lock_guard<std::mutex> lock(startedMutex);
        started.insert(launch.pid);
        return launch;
    }

    Launch Find(const std::string& service, const std::string& client) {
        ZOOnDemandSvcClient launcher;
        CNSession::LaunchOnDemandServiceReq request;
        Fill(request, service, client);
        CNSession::LaunchOnDemandServiceDetails details;
        Launch launch;
        launch.result = launcher.FindTask(request, details);
        launch.session = details.getstring(3, 6, W::kLaunchDetailsType, W::kDetailsSessionId);
        launch.pid = details.getint64(5, W::kLaunchDetailsType, W::kDetailsProcessId);
        return launch;
    }

    static CYbError Stop(const std::string& service, const std::string& client, bool force, long long& pid) {
        CNSession::LaunchOnDemandServiceReq request;
        Fill(request, service, client);
        return ZOOnDemandSvcClient().StopTask(request, force, pid);
    }

    static void Fill(CNSession::LaunchOnDemandServiceReq& request, const std::string& service,
                     const std::string& client) {
        request.setstring(2, 5, service, W::kLaunchReqType, W::kLaunchReqServiceName);
        request.setstring(1, 1, client, W::kLaunchReqType, W::kLaunchReqClientName);
    }

    static CYbError Attach(const Launch& launch, CZoNetwork& network) {
        CNSession::LaunchOnDemandServiceDetails details;
        details.setstring(3, 6, launch.session, W::kLaunchDetailsType, W::kDetailsSessionId);
        details.setstring(4, 4, launch.endpoint, W::kLaunchDetailsType, W::kDetailsEndpoint);
        return ZOOnDemandSvcClient().Attach(details, network);
    }

    // The pid of the service that answers on `network`.
    static long long EchoPid(CZoNetwork& network) {
        CNMessageBase request(77, 5);
        request.setstring(1, 1, "ping", kType, kText);
        auto answer = zotest::Exchange(network, request);
        return answer ? answer->getint64(3, kType, kPid) : -1;
    }

    zotest::TempDir dir{"launcher"};
    EnvGuard runtime;
    EnvGuard config;
    EnvGuard timeout;
    EnvGuard noOverride;
    std::mutex startedMutex;
    std::set<long long> started;
};

TEST_F(LauncherTest, StartsTheServiceInAPrivateInstanceFolderAndAttaches) {
    const Launch launch = Submit("Echo", "node1");
    ASSERT_FALSE(launch.result.IsError()) << launch.result.ToString();
    ASSERT_EQ(launch.errorNumber, 0);
    const std::string instance = dir / "run/Echo/node1";
    EXPECT_EQ(launch.endpoint, "unix:" + instance + "/socket");
    EXPECT_EQ(launch.service, "Echo");
    EXPECT_EQ(launch.session.size(), 32u);
    EXPECT_EQ(launch.session.find_first_not_of("0123456789abcdef"), std::string::npos);
    ASSERT_GT(launch.pid, 0);
    EXPECT_TRUE(Alive(launch.pid));

    for (const char* folder : {"run", "run/Echo", "run/Echo/node1"}) EXPECT_EQ(Mode(dir / folder), 0700) << folder;
    for (const char* file : {"socket", "pid", "session", "lock", "service.log"})
        EXPECT_EQ(Mode(instance + "/" + file), 0600) << file;
    EXPECT_EQ(ReadFile(instance + "/session"), launch.session);
    EXPECT_EQ(ReadFile(instance + "/pid").rfind(std::to_string(launch.pid) + " ", 0), 0u) << "pid, then start time";

    CZoNetwork network;
    const CYbError attached = Attach(launch, network);
    ASSERT_FALSE(attached.IsError()) << attached.ToString();
    EXPECT_EQ(network.IsConnectionGood(), 1);
    EXPECT_EQ(EchoPid(network), launch.pid);
    EXPECT_TRUE(zotest::WaitUntil([&] {
        return ReadFile(instance + "/service.log").find("serving") != std::string::npos;
    })) << "the service's output goes to its log";
}

TEST_F(LauncherTest, TheServiceIsDetachedFromTheLauncher) {
    const Launch launch = Submit("Echo", "node1");
    ASSERT_EQ(launch.errorNumber, 0);
    const std::vector<long> numbers = StatNumbers(launch.pid);
    EXPECT_NE(numbers[0], ::getpid()) << "not our child: we never reap it";
    EXPECT_NE(numbers[1], ::getsid(0)) << "it runs in a session of its own";
}

TEST_F(LauncherTest, ReusesTheLiveInstanceOfTheSameClientOnly) {
    const Launch first = Submit("Echo", "node1");
    const Launch second = Submit("Echo", "node1");
    const Launch other = Submit("Echo", "node2");
    ASSERT_EQ(first.errorNumber, 0);
    EXPECT_EQ(second.errorNumber, 0);
    EXPECT_EQ(second.pid, first.pid);
    EXPECT_EQ(second.session, first.session);
    EXPECT_EQ(other.errorNumber, 0);
    EXPECT_NE(other.pid, first.pid);
    EXPECT_NE(other.session, first.session);
}

TEST_F(LauncherTest, RacingLaunchersEndWithOneInstance) {
    constexpr int kRacers = 4;
    std::vector<Launch> launches(kRacers);
    std::vector<std::thread> racers;
    std::atomic<int> go{0};
    for (int i = 0; i < kRacers; ++i)
        racers.emplace_back([&, i] {
            ++go;
            while (go.load() < kRacers) std::this_thread::yield();
            launches[i] = Submit("EchoSlow", "node1");
        });
    for (auto& racer : racers) racer.join();
    for (const Launch& launch : launches) {
        EXPECT_EQ(launch.errorNumber, 0);
        EXPECT_EQ(launch.pid, launches[0].pid);
        EXPECT_EQ(launch.session, launches[0].session);
    }
    EXPECT_EQ(ProcessesWith("--delay-ms"), 1);
}

// A failed start is an error that says why: the launch error number as its
// code (and in the details), the program's own refusal when it gave one, and
// the instance's log.
TEST_F(LauncherTest, AFailedStartIsAnErrorWithItsNumberItsReasonAndTheLog) {
    struct Row {
        const char* service;
        long long errorNumber;
        const char* reason;
    };
    const Row rows[] = {
        {"Missing", ENOENT, "cannot start /nonexistent/zo-program"},
        {"NotInPath", ENOENT, "cannot find program zo-no-such-program-anywhere"},
        {"Exit3", 3, "ended before it was ready (exit 3)"},
        {"Exit0", ECHILD, "ended before it was ready (exit 0)"},
        {"NeverReady", ETIMEDOUT, "was not ready within 500 ms"},
        {"Refuses", 78, "ended before it was ready (exit 78): no-state-for-you"},
    };
    EnvGuard quick("ZO_LAUNCH_TIMEOUT", "0.5");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.service);
        const Launch launch = Submit(row.service, "node1");
        ASSERT_TRUE(launch.result.IsError());
        EXPECT_EQ(launch.result.Space(), FXErrorSpace::Launch);
        EXPECT_EQ(launch.result.Code(), static_cast<unsigned>(row.errorNumber));
        EXPECT_EQ(launch.errorNumber, row.errorNumber);
        const std::string message = launch.result.Message();
        EXPECT_EQ(message.rfind(std::string(row.service) + " for client node1: it did not start: ", 0), 0u) << message;
        EXPECT_NE(message.find(row.reason), std::string::npos) << message;
        EXPECT_NE(message.find("its log: " + dir / "run" + "/" + row.service + "/node1/service.log"),
                  std::string::npos)
            << message;
        EXPECT_EQ(launch.pid, 0);
    }
    EXPECT_TRUE(zotest::WaitUntil([] { return ProcessesWith("--never-ready") == 0; }))
        << "a service that is not ready in time is killed";
}

TEST_F(LauncherTest, BadRequestsAreErrorsAndTouchNothing) {
    const std::pair<const char*, const char*> requests[] = {
        {"NoSuchService", "node1"}, {"Empty", "node1"},   {"Echo", ""},         {"Echo", "a/b"},
        {"Echo", ".."},             {"Echo", "../x"},     {"Echo", ".hidden"},  {"Echo", "x\ny"},
        {"Echo", "a b"},            {"a/b", "node1"},     {"..", "node1"},
    };
    for (const auto& request : requests) {
        SCOPED_TRACE(std::string(request.first) + " / " + request.second);
        EXPECT_TRUE(Submit(request.first, request.second).result.IsError());
    }
    EXPECT_TRUE(Submit("Echo", std::string(65, 'n')).result.IsError()) << "too long";
    EXPECT_FALSE(Submit("Echo", std::string(64, 'n')).result.IsError());
    EXPECT_EQ(Mode(dir / "run/NoSuchService"), -1);
    EXPECT_EQ(Mode(dir / "x"), -1);

    EnvGuard relative("ZO_RUNTIME_DIR", "run");
    const Launch launch = Submit("Echo", "node2");
    ASSERT_TRUE(launch.result.IsError());
    EXPECT_EQ(launch.result.Code(), static_cast<unsigned>(EINVAL));
    EXPECT_NE(launch.result.Message().find("ZO_RUNTIME_DIR \"run\" is not an absolute path"), std::string::npos)
        << launch.result.ToString();
}

// A live instance, stopped (SIGSTOP), keeps its lock: it is reported with its
// pid and the way out, within the time limit, and never replaced behind its
// back. Resumed, it serves again; asked to stop, it ends only when forced;
// afterwards the next launch starts afresh without anyone touching files.
TEST_F(LauncherTest, AFrozenInstanceIsReportedNeverOrphanedAndEndsWhenForced) {
    EnvGuard quick("ZO_LAUNCH_TIMEOUT", "1");
    const Launch first = Submit("Echo", "node1");
    ASSERT_EQ(first.errorNumber, 0);
    const std::string pid = std::to_string(first.pid);
    ASSERT_EQ(::kill(static_cast<pid_t>(first.pid), SIGSTOP), 0);
    const auto start = std::chrono::steady_clock::now();
    const Launch frozen = Submit("Echo", "node1");
    EXPECT_LT(zotest::SecondsSince(start), 4.0);
    ASSERT_TRUE(frozen.result.IsError());
    EXPECT_EQ(frozen.result.Code(), static_cast<unsigned>(ETIME));
    for (const std::string& part : {"(pid " + pid + ") did not answer within 1 s", std::string("it is stopped"),
                                    "kill -CONT " + pid, std::string("files are left alone")})
        EXPECT_NE(frozen.result.Message().find(part), std::string::npos) << frozen.result.Message();
    EXPECT_TRUE(Alive(first.pid));
    EXPECT_EQ(Mode(dir / "run/Echo/node1/socket"), 0600) << "its files stay";

    ::kill(static_cast<pid_t>(first.pid), SIGCONT);
    EXPECT_EQ(Submit("Echo", "node1").pid, first.pid) << "resumed, it is reused";

    ::kill(static_cast<pid_t>(first.pid), SIGSTOP);
    long long stopped = 0;
    const CYbError polite = Stop("Echo", "node1", false, stopped);
    ASSERT_TRUE(polite.IsError());
    EXPECT_EQ(polite.Code(), static_cast<unsigned>(ETIME));
    EXPECT_NE(polite.Message().find("it is stopped; force it"), std::string::npos) << polite.Message();
    EXPECT_TRUE(Alive(first.pid));
    const CYbError forced = Stop("Echo", "node1", true, stopped);
    ASSERT_FALSE(forced.IsError()) << forced.ToString();
    EXPECT_EQ(stopped, first.pid);
    EXPECT_TRUE(zotest::WaitUntil([&] { return !Alive(first.pid); }));

    const Launch fresh = Submit("Echo", "node1");
    ASSERT_EQ(fresh.errorNumber, 0) << fresh.result.ToString();
    EXPECT_NE(fresh.pid, first.pid);
    CZoNetwork network;
    ASSERT_FALSE(Attach(fresh, network).IsError());
    EXPECT_EQ(EchoPid(network), fresh.pid);
    EXPECT_FALSE(Stop("Echo", "nobody", true, stopped).IsError()) << "nothing to stop is no failure";
    EXPECT_EQ(stopped, 0);
}

// Before a signal the holder of the lock is verified to be the process
// recorded at the start: a pid with another start time, or a process that
// does not hold the instance's pid file, is never signalled.
TEST_F(LauncherTest, StopTaskNeverSignalsAProcessThatIsNotTheInstance) {
    const Launch first = Submit("Echo", "node1");
    ASSERT_EQ(first.errorNumber, 0);
    const std::string pidFile = dir / "run/Echo/node1/pid";
    const std::string self = ReadFile("/proc/self/stat");
    std::istringstream fields(self.substr(self.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) fields >> field;  // field 22: the start time
    for (const std::string& record :
         {std::to_string(first.pid) + " 1\n", std::to_string(::getpid()) + " " + field + "\n"}) {
        SCOPED_TRACE(record);
        std::ofstream(pidFile) << record;  // the same file, rewritten in place
        long long stopped = 0;
        const CYbError refused = Stop("Echo", "node1", true, stopped);
        ASSERT_TRUE(refused.IsError());
        EXPECT_EQ(refused.Code(), static_cast<unsigned>(ESRCH));
        EXPECT_NE(refused.Message().find("is not the process recorded at its start; nothing was signalled"),
                  std::string::npos)
            << refused.Message();
        EXPECT_TRUE(Alive(first.pid));
    }
}

// Every connection taken: the launcher waits for a free one within the time
// limit and then names the pid; a connection freed meanwhile ends the wait.
TEST_F(LauncherTest, ABusyInstanceIsWaitedForAndATimeOutNamesItsPid) {
    EnvGuard quick("ZO_LAUNCH_TIMEOUT", "1");
    const Launch first = Submit("EchoOne", "node1");
    ASSERT_EQ(first.errorNumber, 0);
    auto held = std::make_unique<CZoNetwork>();
    ASSERT_FALSE(Attach(first, *held).IsError());

    CZoNetwork refused;
    const CYbError attach = Attach(first, refused);
    ASSERT_TRUE(attach.IsError());
    EXPECT_EQ(attach.Code(), static_cast<unsigned>(EBUSY)) << attach.ToString();

    const Launch busy = Submit("EchoOne", "node1");
    ASSERT_TRUE(busy.result.IsError());
    EXPECT_EQ(busy.result.Code(), static_cast<unsigned>(EBUSY));
    EXPECT_NE(busy.result.Message().find("(pid " + std::to_string(first.pid) + ") stayed busy for 1 s"),
              std::string::npos)
        << busy.result.Message();
    EXPECT_TRUE(Alive(first.pid));

    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        held.reset();
    });
    const Launch waited = Submit("EchoOne", "node1");
    release.join();
    ASSERT_FALSE(waited.result.IsError()) << waited.result.ToString();
    EXPECT_EQ(waited.pid, first.pid);
}

TEST_F(LauncherTest, FindTaskNeverStartsAnInstance) {
    const Launch none = Find("Echo", "node1");
    ASSERT_TRUE(none.result.IsError());
    EXPECT_EQ(none.result.Space(), FXErrorSpace::ErrNo);
    EXPECT_EQ(none.result.Code(), static_cast<unsigned>(ESRCH));
    EXPECT_EQ(Mode(dir / "run/Echo/node1"), -1) << "nothing is made for a look";

    const Launch started = Submit("Echo", "node1");
    ASSERT_EQ(started.errorNumber, 0);
    const Launch found = Find("Echo", "node1");
    ASSERT_FALSE(found.result.IsError()) << found.result.ToString();
    EXPECT_EQ(found.pid, started.pid);
    EXPECT_EQ(found.session, started.session);

    ::kill(static_cast<pid_t>(started.pid), SIGKILL);
    ASSERT_TRUE(zotest::WaitUntil([&] { return !Alive(started.pid); }));
    EXPECT_EQ(Find("Echo", "node1").result.Code(), static_cast<unsigned>(ESRCH));
    EXPECT_EQ(ReadFile(dir / "run/Echo/node1/pid").rfind(std::to_string(started.pid) + " ", 0), 0u)
        << "no other instance was started";
}

// The instance records the settings that decide what it serves; a caller
// whose settings read otherwise is refused with both values and the pid.
TEST_F(LauncherTest, AnInstanceIsHandedOnlyToCallersWhoseSettingsMatchItsIdentity) {
    EnvGuard state("ZO_TEST_STATE", "/state/a");
    const Launch first = Submit("EchoId", "node1");
    ASSERT_EQ(first.errorNumber, 0) << first.result.ToString();
    struct Row {
        const char* value;  // of ZO_TEST_STATE; null: unset
        const char* program;  // ZO_SERVICE_EchoId; null: the registry's
        const char* difference;
    };
    const Row rows[] = {
        {"/state/b", nullptr, "this caller's ZO_TEST_STATE is \"/state/b\" where the instance's was \"/state/a\""},
        {nullptr, nullptr, "this caller's ZO_TEST_STATE is unset where the instance's was \"/state/a\""},
        {"/state/a", "--max-connections 9", "and the registry now says"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.difference);
        EnvGuard value("ZO_TEST_STATE", row.value);
        EnvGuard program("ZO_SERVICE_EchoId",
                         row.program ? kEcho + " --identity ZO_TEST_STATE " + row.program : std::string());
        if (!row.program) ::unsetenv("ZO_SERVICE_EchoId");
        const Launch refused = Submit("EchoId", "node1");
        ASSERT_TRUE(refused.result.IsError());
        EXPECT_EQ(refused.result.Code(), static_cast<unsigned>(EEXIST));
        const std::string message = refused.result.Message();
        EXPECT_NE(message.find("(pid " + std::to_string(first.pid) + ") serves echo of /state/a"), std::string::npos)
            << message;
        EXPECT_NE(message.find(row.difference), std::string::npos) << message;
    }
    EXPECT_EQ(Submit("EchoId", "node1").pid, first.pid) << "the same settings reuse it";
}

TEST_F(LauncherTest, AnEntryMissingFromAMalformedRegistrySaysWhy) {
    std::ofstream(dir / "zo.conf", std::ios::app) << "a line without an equals sign\n";
    const CYbError refused = Submit("Echo", "node1").result;
    ASSERT_TRUE(refused.IsError());
    EXPECT_NE(refused.ToString().find("the file is malformed and reads as empty: line 15: '=' character not found"),
              std::string::npos)
        << refused.ToString();
}

TEST_F(LauncherTest, AttachRequiresTheSessionOfTheInstance) {
    Launch launch = Submit("Echo", "node1");
    ASSERT_EQ(launch.errorNumber, 0);
    for (const char* wrong : {"", "0123", "ffffffffffffffffffffffffffffffff"}) {
        SCOPED_TRACE(wrong);
        Launch forged = launch;
        forged.session = wrong;
        CZoNetwork network;
        EXPECT_TRUE(Attach(forged, network).IsError());
        EXPECT_EQ(network.IsConnectionGood(), 0);
    }
    Launch nowhere = launch;
    nowhere.endpoint = "";
    CZoNetwork network;
    EXPECT_TRUE(Attach(nowhere, network).IsError());
    EXPECT_FALSE(Attach(launch, network).IsError()) << "the right session still works";
}

TEST_F(LauncherTest, AnInstanceThatEndedIsReplacedByAFreshOne) {
    // Ended by its idle time, or killed outright (its socket file stays behind).
    const Launch idle = Submit("EchoIdle", "node1");
    ASSERT_EQ(idle.errorNumber, 0);
    ASSERT_TRUE(zotest::WaitUntil([&] { return !Alive(idle.pid); }, std::chrono::milliseconds(5000)))
        << "the service exits once idle";
    const Launch fresh = Submit("EchoIdle", "node1");
    ASSERT_EQ(fresh.errorNumber, 0);
    EXPECT_NE(fresh.pid, idle.pid);
    EXPECT_NE(fresh.session, idle.session);

    const Launch killed = Submit("Echo", "node1");
    ASSERT_EQ(killed.errorNumber, 0);
    ::kill(static_cast<pid_t>(killed.pid), SIGKILL);
    ASSERT_TRUE(zotest::WaitUntil([&] { return !Alive(killed.pid); }));
    const Launch replaced = Submit("Echo", "node1");
    ASSERT_EQ(replaced.errorNumber, 0);
    EXPECT_NE(replaced.pid, killed.pid);
    CZoNetwork network;
    ASSERT_FALSE(Attach(replaced, network).IsError());
    EXPECT_EQ(EchoPid(network), replaced.pid);
}

TEST_F(LauncherTest, TheEnvironmentOverridesTheRegistry) {
    EnvGuard program("ZO_SERVICE_Echo", kEcho + " --exit 4");
    EXPECT_EQ(Submit("Echo", "node1").errorNumber, 4);
}

TEST_F(LauncherTest, ARemoteEntryNamesARunningServiceAndItsSession) {
    zo::ListenerOptions options;
    options.endpoint = "tcp:127.0.0.1:0";
    options.sessionId = "remote-session";
    zo::ServiceListener listener(options, [](const CNMessageBase&, const zo::PeerInfo&) {
        auto answer = std::make_unique<CNMessageBase>(77, 6);
        answer->setint64(3, 3, 4242, kType, kPid);
        return answer;
    });
    ASSERT_FALSE(listener.Start().IsError());
    std::thread runner([&] { listener.Run(); });

    std::ofstream(dir / "zo.conf", std::ios::app) << "Remote = " << listener.BoundEndpoint() << "\n"
                                                  << "Remote.session = from-the-file\n";
    Launch launch = Submit("Remote", "node1");
    EXPECT_EQ(launch.session, "from-the-file");
    {
        EnvGuard session("ZO_SERVICE_Remote_SESSION", "remote-session");
        launch = Submit("Remote", "node1");
    }
    ASSERT_FALSE(launch.result.IsError());
    EXPECT_EQ(launch.errorNumber, 0);
    EXPECT_EQ(launch.endpoint, listener.BoundEndpoint());
    EXPECT_EQ(launch.session, "remote-session");
    EXPECT_EQ(launch.pid, 0) << "no local process";
    EXPECT_EQ(Mode(dir / "run/Remote"), -1) << "nothing is started for a remote entry";
    CZoNetwork network;
    ASSERT_FALSE(Attach(launch, network).IsError());
    EXPECT_EQ(EchoPid(network), 4242);

    listener.Stop();
    runner.join();
}

}  // namespace
