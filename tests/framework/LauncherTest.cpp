// ZOOnDemandSvcClient against a real service program (helpers/EchoService)
// started in a temporary runtime folder with a temporary configuration.
#include "CNSession.h"
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
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

// Field 4 (parent) and 6 (session) of /proc/PID/stat.
std::vector<long> StatNumbers(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
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
        std::ifstream file(std::string("/proc/") + entry->d_name + "/cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (cmdline.find(word) != std::string::npos) ++count;
    }
    if (proc) ::closedir(proc);
    return count;
}

int Mode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

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
    EXPECT_EQ(ReadFile(instance + "/pid"), std::to_string(launch.pid));

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

TEST_F(LauncherTest, AFailedStartIsReportedInTheErrorNumberNotAsAnError) {
    struct Row {
        const char* service;
        long long errorNumber;  // 0: any non-zero number
    };
    const Row rows[] = {
        {"Missing", ENOENT}, {"NotInPath", ENOENT}, {"Exit3", 3}, {"Exit0", 0}, {"NeverReady", ETIMEDOUT},
    };
    EnvGuard quick("ZO_LAUNCH_TIMEOUT", "0.5");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.service);
        const Launch launch = Submit(row.service, "node1");
        EXPECT_FALSE(launch.result.IsError()) << launch.result.ToString();
        if (row.errorNumber != 0) {
            EXPECT_EQ(launch.errorNumber, row.errorNumber);
        }
        EXPECT_NE(launch.errorNumber, 0) << "a service that never served is never a success";
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
}

TEST_F(LauncherTest, AnEntryMissingFromAMalformedRegistrySaysWhy) {
    std::ofstream(dir / "zo.conf", std::ios::app) << "a line without an equals sign\n";
    const CYbError refused = Submit("Echo", "node1").result;
    ASSERT_TRUE(refused.IsError());
    EXPECT_NE(refused.ToString().find("the file is malformed and reads as empty: line 12: '=' character not found"),
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
