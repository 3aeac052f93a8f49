// The runner every tgtadm and tgtd call goes through: argument vectors, no
// shell, output captured, and a hard time limit.
#include "backend/tgt/Process.h"
#include "FakeTgtAdm.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace zoscsi::tgt;
using std::chrono::milliseconds;

namespace {

ProcessOptions Limit(int ms) {
    ProcessOptions options;
    options.limit = milliseconds(ms);
    return options;
}

}  // namespace

TEST(Process, CapturesExitCodeAndBothStreams) {
    const ProcessResult result = RunProcess({"/bin/ls", "/nonexistent-zo-path"}, Limit(5000));
    EXPECT_EQ(result.end, ProcessResult::End::Exited);
    EXPECT_NE(result.code, 0);
    EXPECT_NE(result.err.find("nonexistent-zo-path"), std::string::npos);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(result.Describe().rfind("exit " + std::to_string(result.code) + ": ", 0), 0u) << result.Describe();
}

TEST(Process, PassesArgumentsVerbatimWithoutAShell) {
    const std::vector<std::string> tricky = {"$(touch /tmp/zo-pwned)", "a b", "*", "'\"", ";", "--x=-y"};
    std::vector<std::string> argv{"/bin/echo", "-n"};
    argv.insert(argv.end(), tricky.begin(), tricky.end());
    const ProcessResult result = RunProcess(argv, Limit(5000));
    ASSERT_TRUE(result.Succeeded()) << result.Describe();
    EXPECT_EQ(result.out, "$(touch /tmp/zo-pwned) a b * '\" ; --x=-y");
    EXPECT_NE(access("/tmp/zo-pwned", F_OK), 0);
}

TEST(Process, KillsAProgramThatIgnoresSigtermAtItsLimit) {
    FakeTgtAdm fake;
    fake.Mode("hang");
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result = RunProcess({FakeTgtAdm::Path()}, Limit(300));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.end, ProcessResult::End::TimedOut);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_GE(took, milliseconds(300));
    EXPECT_LT(took, milliseconds(3000));
    EXPECT_NE(result.Describe().find("time limit"), std::string::npos);
}

TEST(Process, AMissingProgramIsAFailureNotACrash) {
    const ProcessResult result = RunProcess({"/nonexistent/tgtadm"}, Limit(1000));
    EXPECT_EQ(result.end, ProcessResult::End::NotStarted);
    EXPECT_NE(result.Describe().find("/nonexistent/tgtadm"), std::string::npos);
    EXPECT_EQ(RunProcess({}, Limit(1000)).end, ProcessResult::End::NotStarted);
}

TEST(Process, KeepsOnlyTheCapOfALoudProgramAndSaysSo) {
    ProcessOptions options = Limit(5000);
    options.outputCap = 1000;
    const ProcessResult result = RunProcess({"/bin/cat", "/bin/ls"}, options);  // a binary of many KiB
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.out.size(), 1000u);
    EXPECT_TRUE(result.truncated);
}

TEST(Process, ChildGetsNoStdinNoStrayDescriptorsAndAFilteredEnvironment) {
    int leak[2];
    ASSERT_EQ(::pipe(leak), 0);  // not close-on-exec: must not reach the child anyway
    const char* const dropped[] = {"TGT_IPC_SOCKET", "NOTIFY_SOCKET", "WATCHDOG_USEC", "ZO_ODS_SESSION"};
    for (const char* name : dropped) ::setenv(name, "/tmp/elsewhere", 1);
    ProcessOptions options = Limit(5000);
    options.unsetEnv = {"TGT_IPC_SOCKET"};
    const ProcessResult fds = RunProcess({"/bin/ls", "/proc/self/fd"}, options);
    const ProcessResult env = RunProcess({"/usr/bin/env"}, options);
    const ProcessResult in = RunProcess({"/bin/cat"}, options);
    for (const char* name : dropped) ::unsetenv(name);
    ::close(leak[0]);
    ::close(leak[1]);
    EXPECT_EQ(fds.out, "0\n1\n2\n3\n");  // 3: ls's own listing of the folder
    for (const char* name : dropped) EXPECT_EQ(env.out.find(name), std::string::npos) << name;
    EXPECT_NE(env.out.find("PATH="), std::string::npos);
    EXPECT_TRUE(in.Succeeded());
    EXPECT_EQ(in.out, "");
}

TEST(Process, SpawnedChildLogsToItsFileAndIsReaped) {
    TempFolder folder;
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(SpawnChild({"/bin/echo", "started"}, folder / "log", {}, child, error)) << error;
    EXPECT_TRUE(child.WaitFor(milliseconds(3000)));
    EXPECT_EQ(child.ending(), "exit 0");
    std::ifstream log(folder / "log");
    std::string line;
    std::getline(log, line);
    EXPECT_EQ(line, "started");

    FakeTgtAdm fake;
    fake.Mode("hang");
    ChildProcess stubborn;
    ASSERT_TRUE(SpawnChild({FakeTgtAdm::Path()}, folder / "log", {}, stubborn, error)) << error;
    EXPECT_TRUE(stubborn.Running());
    EXPECT_FALSE(stubborn.WaitFor(milliseconds(100)));
    stubborn.Kill();
    EXPECT_FALSE(stubborn.Running());
    EXPECT_EQ(stubborn.ending(), "signal 9");
    EXPECT_FALSE(SpawnChild({"/bin/true"}, "/nonexistent-folder/log", {}, child, error));
}
