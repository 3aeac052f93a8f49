// The shared object as a host sees it: dlopen finds ZoScsiSrvStart under its
// plain name, and the dynamic symbol table exports only the client class and
// that function.
#include "support/CaptureLog.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

// The defined dynamic symbols of `path` as nm prints them (posix format:
// name first), or an empty list when nm cannot be run.
std::vector<std::string> DefinedDynamicSymbols(const std::string& path, bool& ran) {
    ran = false;
    int fds[2];
    if (pipe(fds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> args{"nm", "-D", "--defined-only", "--format=posix", path};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "nm", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    if (spawned != 0) return {};
    int status = 0;
    waitpid(pid, &status, 0);
    ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::vector<std::string> names;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(start, end - start);
        if (!line.empty()) names.push_back(line.substr(0, line.find(' ')));
        start = end + 1;
    }
    return names;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

TEST(Exports, DlopenFindsZoScsiSrvStartAndItRuns) {
    char config[] = "/tmp/zo-exports-XXXXXX";
    const int fd = mkstemp(config);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("ZO_CONFIG", config, 1);  // no [Brovant] section: the function only logs

    void* handle = dlopen(ZO_CLIENT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto start = reinterpret_cast<void (*)()>(dlsym(handle, "ZoScsiSrvStart"));
    ASSERT_NE(start, nullptr) << dlerror();
    {
        zotest::ScopedLogCapture log(1);
        start();
        EXPECT_EQ(log->Texts(), std::vector<std::string>{"ZoScsiSrv not in use"});
    }
    EXPECT_EQ(dlsym(handle, "_ZN23ZoScsiSrvClientInternal18ParseListLunOutputERKSt6vectorINSt7__cxx1112basic_"
                            "stringIcSt11char_traitsIcESaIcEEESaIS6_EERS0_IN15ZoScsiSrvClient7LunInfoESaISB_EE"),
              nullptr);
    dlclose(handle);
    unlink(config);
}

TEST(Exports, OnlyTheClientClassAndTheStartFunctionAreExported) {
    bool ran = false;
    const std::vector<std::string> names = DefinedDynamicSymbols(ZO_CLIENT_LIBRARY, ran);
    if (!ran) GTEST_SKIP() << "nm is not available";
    bool start = false;
    bool lunInfoStr = false;
    bool serviceError = false;  // the typed error accessor, a static member
    for (const std::string& name : names) {
        start |= name == "ZoScsiSrvStart";
        lunInfoStr |= StartsWith(name, "_ZNK15ZoScsiSrvClient7LunInfo3str");
        serviceError |= StartsWith(name, "_ZN15ZoScsiSrvClient15GetServiceError");
        EXPECT_TRUE(name == "ZoScsiSrvStart" || StartsWith(name, "_ZN15ZoScsiSrvClient") ||
                    StartsWith(name, "_ZNK15ZoScsiSrvClient"))
            << "unexpected export " << name;
    }
    EXPECT_TRUE(start);
    EXPECT_TRUE(lunInfoStr);
    EXPECT_TRUE(serviceError);
    EXPECT_GE(names.size(), 23u) << "constructor, destructor, every operation and GetServiceError";
}
