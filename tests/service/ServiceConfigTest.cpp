// Where an instance listens, keeps its inventory and how long it idles,
// from the command line, the launcher's environment and [ZoScsiSrv].
#include "TempFolder.h"
#include "app/ServiceConfig.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

using namespace zoscsi;

namespace {

struct Sources {
    std::map<std::string, std::string> ini;
    std::map<std::string, std::string> env;
    unsigned uid = 1000;

    ConfigSources Get() const {
        ConfigSources s;
        s.setting = [this](const std::string& key, std::string& value) {
            auto found = ini.find(key);
            if (found == ini.end()) return false;
            value = found->second;
            return true;
        };
        s.environment = [this](const char* name) -> const char* {
            auto found = env.find(name);
            return found == env.end() ? nullptr : found->second.c_str();
        };
        s.uid = uid;
        s.machineClientName = "node7";
        for (const auto& entry : ini) s.keys.push_back(entry.first);
        return s;
    }
};

zo::LaunchContext Launched(const std::string& client = "node1") {
    zo::LaunchContext c;
    c.launched = true;
    c.client = client;
    c.endpoint = "unix:/run/zo/x/socket";
    c.sessionId = "s3cr3t";
    c.readyFd = 3;
    return c;
}

CommandLine ByHand(const std::string& listen = "unix:/tmp/s") {
    CommandLine line;
    line.foreground = true;
    line.listen = listen;
    return line;
}

ServiceConfig Resolve(const CommandLine& line, const zo::LaunchContext& launch, const Sources& sources) {
    ServiceConfig config;
    std::string error;
    EXPECT_TRUE(ResolveConfig(line, launch, sources.Get(), config, error)) << error;
    return config;
}

std::string Refusal(const CommandLine& line, const zo::LaunchContext& launch, const Sources& sources) {
    ServiceConfig config;
    std::string error;
    EXPECT_FALSE(ResolveConfig(line, launch, sources.Get(), config, error));
    return error;
}

TEST(ServiceConfig, ALaunchedInstanceTakesWhatTheLauncherGives) {
    const ServiceConfig c = Resolve(CommandLine(), Launched(), Sources());
    EXPECT_TRUE(c.launched);
    EXPECT_EQ(c.endpoint, "unix:/run/zo/x/socket");
    EXPECT_EQ(c.sessionId, "s3cr3t");
    EXPECT_EQ(c.clientName, "node1");
    EXPECT_EQ(c.backend, "inventory");
    EXPECT_EQ(c.idleExitSec, 600);
    EXPECT_EQ(c.sizes.defaultBytes, 64ull << 20);
}

TEST(ServiceConfig, StateFolderPrecedence) {
    Sources s;
    s.env["HOME"] = "/home/u";
    EXPECT_EQ(Resolve(ByHand(), {}, s).stateDir, "/home/u/.local/state/zoscsisrv");
    s.env["XDG_STATE_HOME"] = "/xdg";
    EXPECT_EQ(Resolve(ByHand(), {}, s).stateDir, "/xdg/zoscsisrv");
    s.ini["StateDir"] = "/ini";
    EXPECT_EQ(Resolve(ByHand(), {}, s).stateDir, "/ini");
    s.env["ZO_STATE_DIR"] = "/env";
    EXPECT_EQ(Resolve(ByHand(), {}, s).stateDir, "/env");
    CommandLine line = ByHand();
    line.stateDir = "/cli";
    EXPECT_EQ(Resolve(line, {}, s).stateDir, "/cli");
    Sources root;
    root.uid = 0;
    EXPECT_EQ(Resolve(ByHand(), {}, root).stateDir, "/var/lib/zoscsisrv");
    line.stateDir = "relative";
    EXPECT_NE(Refusal(line, {}, s).find("\"relative\" (--state-dir) is not an absolute path"), std::string::npos);
    line.stateDir = "/srv/link/../zo";
    EXPECT_NE(Refusal(line, {}, s).find("holds \"..\""), std::string::npos);
    s.env["ZO_STATE_DIR"] = "state";
    EXPECT_NE(Refusal(ByHand(), {}, s).find("(ZO_STATE_DIR)"), std::string::npos);
}

TEST(ServiceConfig, EveryKeyMustBeKnownAndHaveAGoodValue) {
    const struct {
        const char* key;
        const char* value;
        const char* refusal;  // null: accepted
    } cases[] = {
        {"Backnd", "tgt", "unknown key \"Backnd\" in [ZoScsiSrv]; known: StateDir"},
        {"backend", "tgt", "unknown key \"backend\""},  // keys are case-sensitive
        {"Backend", "", "Backend has no value"},
        {"TgtPortal", "", "TgtPortal has no value"},
        {"TgtPortal", "127.0.0.1:3261", nullptr},  // a backend's key, whichever backend runs
        {"RequireMountedState", "maybe", "RequireMountedState \"maybe\" is neither yes nor no"},
        {"RequireMountedState", "yes", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + c.value);
        Sources s;
        s.ini[c.key] = c.value;
        if (c.refusal) EXPECT_NE(Refusal(ByHand(), {}, s).find(c.refusal), std::string::npos);
        else EXPECT_EQ(Resolve(ByHand(), {}, s).backend, "inventory");
    }
    Sources mounted;
    mounted.ini["RequireMountedState"] = "yes";
    EXPECT_TRUE(Resolve(ByHand(), {}, mounted).requireMountedState);
}

TEST(ServiceConfig, AMalformedFileIsRefusedWithItsLineNotReadAsEmpty) {
    TempFolder folder;
    const std::string path = folder / "zo.conf";
    setenv("ZO_CONFIG", path.c_str(), 1);
    const struct {
        const char* text;
        const char* refusal;  // null: read
    } cases[] = {
        {"[ZoScsiSrv]\nBackend = tgt\nTgtPortal 127.0.0.1:3260\n", "line 3: '=' character not found"},
        {"[ZoScsiSrv\nBackend = tgt\n", "line 1: unmatched '['"},
        {"[ZoScsiSrv]\nBackend = tgt\nBackend = inventory\n", "line 3: duplicate key"},
        {"Backend = tgt\n[ZoScsiSrv]\nIdleExitSeconds = 5\n", "\"Backend\" stands before any [section]"},
        {"[Log]\nLevel = 1\n[ZoScsiSrv]\nBackend = tgt\n", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::ofstream(path, std::ios::trunc) << c.text;
        ConfigSources sources;
        std::string error;
        if (c.refusal) {
            EXPECT_FALSE(ProcessConfigSources(false, sources, error));
            EXPECT_NE(error.find("configuration file " + path), std::string::npos) << error;
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(ProcessConfigSources(false, sources, error)) << error;
        std::string backend;
        EXPECT_TRUE(sources.setting("Backend", backend));
        EXPECT_EQ(backend, "tgt");
        EXPECT_EQ(sources.keys, std::vector<std::string>{"Backend"});
    }
    std::filesystem::remove(path);
    ConfigSources sources;
    std::string error;
    EXPECT_TRUE(ProcessConfigSources(false, sources, error)) << "no file: no settings; " << error;
    EXPECT_FALSE(ProcessConfigSources(true, sources, error)) << "unless it was named";
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
    unsetenv("ZO_CONFIG");
}

TEST(ServiceConfig, IdleExitPrecedence) {
    Sources s;
    s.env["ZO_ODS_IDLE_EXIT"] = "0";  // the launcher's registry has none
    EXPECT_EQ(Resolve(CommandLine(), Launched(), s).idleExitSec, 600);
    s.ini["IdleExitSeconds"] = "30";
    EXPECT_EQ(Resolve(CommandLine(), Launched(), s).idleExitSec, 30);
    s.env["ZO_ODS_IDLE_EXIT"] = "5";
    EXPECT_EQ(Resolve(CommandLine(), Launched(), s).idleExitSec, 5);
    EXPECT_EQ(Resolve(ByHand(), {}, s).idleExitSec, 0);  // by hand: until stopped
    CommandLine line = ByHand();
    line.idleExit = "7";
    EXPECT_EQ(Resolve(line, {}, s).idleExitSec, 7);
    s.env.erase("ZO_ODS_IDLE_EXIT");
    s.ini["IdleExitSeconds"] = "soon";
    EXPECT_NE(Refusal(CommandLine(), Launched(), s).find("IdleExitSeconds"), std::string::npos);
}

TEST(ServiceConfig, ByHandNeedsForegroundAndAnEndpoint) {
    EXPECT_NE(Refusal(CommandLine(), {}, Sources()).find("--foreground"), std::string::npos);
    EXPECT_NE(Refusal(ByHand(""), {}, Sources()).find("nowhere to listen"), std::string::npos);
    EXPECT_NE(Refusal(ByHand("http://x"), {}, Sources()).find("is not unix:PATH"), std::string::npos);
    Sources tcp;
    tcp.ini["ListenTcp"] = "127.0.0.1:7000";
    EXPECT_NE(Refusal(ByHand(""), {}, tcp).find("without a session"), std::string::npos);
    zo::LaunchContext withSession;
    withSession.sessionId = "s3cret";
    EXPECT_EQ(Resolve(ByHand(""), withSession, tcp).endpoint, "tcp:127.0.0.1:7000");
    EXPECT_EQ(Resolve(ByHand(), {}, Sources()).clientName, "node7");  // this machine's name
    EXPECT_NE(Refusal(ByHand(), Launched(), Sources()).find("conflicts"), std::string::npos);
}

// By hand the session comes from a file only the service's user can read, or
// from ZO_ODS_SESSION; never from the command line.
TEST(ServiceConfig, SessionFromAPrivateFileOrTheEnvironment) {
    TempFolder folder;
    auto file = [&](const std::string& name, const std::string& text, mode_t mode) {
        const std::string path = folder / name;
        std::ofstream(path) << text;
        ::chmod(path.c_str(), mode);
        return path;
    };
    Sources s;
    s.uid = ::geteuid();
    CommandLine line = ByHand("tcp:127.0.0.1:7000");
    line.sessionFile = file("good", "  f00d\n", 0600);
    EXPECT_EQ(Resolve(line, {}, s).sessionId, "f00d");
    line.sessionFile = file("readonly", "f00d", 0400);
    EXPECT_EQ(Resolve(line, {}, s).sessionId, "f00d");

    const struct {
        std::string path;
        unsigned uid;
        const char* reason;
    } refused[] = {
        {file("group", "x", 0640), s.uid, "group can read it"},
        {file("others", "x", 0606), s.uid, "others can read and write it"},
        {file("both", "x", 0622), s.uid, "group can write it, others can write it"},
        {file("owner", "x", 0600), s.uid + 1, "not by the service's user"},
        {file("empty", " \n", 0600), s.uid, "is empty"},
        {file("lines", "a\nb", 0600), s.uid, "more than one line"},
        {file("large", std::string(5000, 'x'), 0600), s.uid, "larger than 4096"},
        {folder.path(), s.uid, "not a regular file"},
        {folder / "missing", s.uid, "cannot open"},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.path);
        Sources other = s;
        other.uid = row.uid;
        line.sessionFile = row.path;
        const std::string reason = Refusal(line, {}, other);
        EXPECT_NE(reason.find(row.reason), std::string::npos) << reason;
        EXPECT_NE(reason.find(row.path), std::string::npos) << reason;
    }

    zo::LaunchContext environment;  // ZO_ODS_SESSION without the launcher's endpoint
    environment.sessionId = "from-env";
    EXPECT_EQ(Resolve(ByHand("tcp:127.0.0.1:7000"), environment, s).sessionId, "from-env");
    line.sessionFile = file("good", "f00d", 0600);
    EXPECT_NE(Refusal(line, environment, s).find("given twice"), std::string::npos);
    EXPECT_NE(Refusal(line, Launched(), s).find("conflicts"), std::string::npos);
}

TEST(ServiceConfig, TlsAndConnectionSettings) {
    TempFolder folder;
    const std::string key = folder / "service.key";
    std::ofstream(key) << "key";
    ::chmod(key.c_str(), 0640);
    Sources s;
    s.uid = ::geteuid();
    zo::LaunchContext session;
    session.sessionId = "s";
    s.ini = {{"ListenTcp", "tls:127.0.0.1:7000"}, {"TlsCertFile", "/etc/zo/service.pem"}, {"TlsKeyFile", key},
             {"TlsCaFile", "/etc/zo/clients.pem"}, {"AllowPlainTcp", "yes"}, {"MaxPendingConnections", "32"},
             {"MaxPendingPerAddress", "4"}, {"SessionDeadlineSeconds", "2"}};
    const ServiceConfig c = Resolve(ByHand(""), session, s);
    EXPECT_EQ(c.endpoint, "tls:127.0.0.1:7000");
    EXPECT_EQ(c.tls.certFile, "/etc/zo/service.pem");
    EXPECT_EQ(c.tls.keyFile, key);
    EXPECT_EQ(c.tls.caFile, "/etc/zo/clients.pem");
    EXPECT_TRUE(c.allowPlainTcp);
    EXPECT_EQ(c.maxPending, 32);
    EXPECT_EQ(c.maxPendingPerAddress, 4);
    EXPECT_EQ(c.sessionDeadlineSec, 2);
    EXPECT_FALSE(Resolve(ByHand("tcp:127.0.0.1:7000"), session, Sources()).allowPlainTcp);

    const struct {
        const char* key;
        const char* value;  // null: absent
        const char* reason;
    } refused[] = {
        {"TlsCertFile", nullptr, "needs [ZoScsiSrv] TlsCertFile and TlsKeyFile"},
        {"TlsCaFile", "clients.pem", "not an absolute path"},
        {"AllowPlainTcp", "maybe", "neither yes nor no"},
        {"MaxPendingConnections", "0", "MaxPendingConnections"},
        {"SessionDeadlineSeconds", "-1", "SessionDeadlineSeconds"},
    };
    for (const auto& row : refused) {
        Sources bad = s;
        if (row.value) bad.ini[row.key] = row.value;
        else bad.ini.erase(row.key);
        EXPECT_NE(Refusal(ByHand(""), session, bad).find(row.reason), std::string::npos) << row.key;
    }
    ::chmod(key.c_str(), 0644);
    EXPECT_NE(Refusal(ByHand(""), session, s).find("others can read it (chmod 640"), std::string::npos);
}

TEST(ServiceConfig, ClientNamesMustNameOneFolder) {
    const std::pair<const char*, bool> cases[] = {
        {"node1", true}, {"Node-1.lab_2", true}, {"", false}, {".", false}, {"..", false}, {".x", false},
        {"-x", false},   {"a/b", false},         {"a b", false}, {"a\nb", false},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(CheckClientName(c.first, error), c.second) << c.first;
    }
    EXPECT_NE(Refusal(CommandLine(), Launched("../etc"), Sources()).find("state folder"), std::string::npos);
}

TEST(ServiceConfig, LunSizesAndBounds) {
    Sources s;
    s.ini["DefaultLunSize"] = "1G";
    s.ini["MaxLunSize"] = "2G";
    s.ini["MaxConnections"] = "10";
    ServiceConfig c = Resolve(ByHand(), {}, s);
    EXPECT_EQ(c.sizes.defaultBytes, 1ull << 30);
    EXPECT_EQ(c.sizes.maxBytes, 2ull << 30);
    EXPECT_EQ(c.maxConnections, 10);
    s.ini["DefaultLunSize"] = "4G";
    EXPECT_NE(Refusal(ByHand(), {}, s).find("DefaultLunSize"), std::string::npos);
    s.ini.erase("DefaultLunSize");
    s.ini["MaxLunSize"] = "1M";
    EXPECT_EQ(Resolve(ByHand(), {}, s).sizes.defaultBytes, 1ull << 20);  // the default shrinks to the bound
    s.ini["MaxConnections"] = "0";
    EXPECT_NE(Refusal(ByHand(), {}, s).find("MaxConnections"), std::string::npos);
}

TEST(CommandLine, OptionsByTable) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"--foreground", "--listen", "unix:/x", "--state-dir=/s", "--backend", "tgt"}, line,
                                 error))
        << error;
    EXPECT_TRUE(line.foreground);
    EXPECT_EQ(line.listen, "unix:/x");
    EXPECT_EQ(line.stateDir, "/s");
    EXPECT_EQ(line.backend, "tgt");
    const std::vector<std::vector<std::string>> refused = {
        {"--listen"}, {"--bogus"}, {"stray"}, {"--foreground=yes"}, {"-f"},
    };
    for (const auto& arguments : refused) {
        CommandLine other;
        EXPECT_FALSE(ParseCommandLine(arguments, other, error)) << arguments[0];
    }
    EXPECT_NE(UsageText().find("--state-dir"), std::string::npos);
    // The secret on the command line, in either form, is refused with the way out.
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--session", "s3cret"}, std::vector<std::string>{"--session=s3cret"}}) {
        CommandLine other;
        EXPECT_FALSE(ParseCommandLine(arguments, other, error));
        EXPECT_NE(error.find("--session-file PATH"), std::string::npos) << error;
    }
    EXPECT_EQ(UsageText().find("--session "), std::string::npos);
}

}  // namespace
