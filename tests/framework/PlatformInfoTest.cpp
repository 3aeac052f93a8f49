#include "ZOPlatformInfo.h"
#include "support/CaptureLog.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A temporary folder with a configuration file that ZO_CONFIG points at.
class PlatformInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/zo-platformtest-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_dir = dir;
        m_path = m_dir + "/zo.conf";
        const char* old = std::getenv("ZO_CONFIG");
        m_hadConfig = old != nullptr;
        if (old) m_oldConfig = old;
        ::setenv("ZO_CONFIG", m_path.c_str(), 1);
    }
    void TearDown() override {
        if (m_hadConfig) ::setenv("ZO_CONFIG", m_oldConfig.c_str(), 1);
        else ::unsetenv("ZO_CONFIG");
        fs::remove_all(m_dir);
    }
    void WriteConfig(const std::string& text) { std::ofstream(m_path, std::ios::binary | std::ios::trunc) << text; }

    std::string m_dir;
    std::string m_path;
    std::string m_oldConfig;
    bool m_hadConfig = false;
};

TEST_F(PlatformInfoTest, ConfigPathComesFromTheEnvironment) {
    EXPECT_EQ(ZOPlatformInfo::ConfigPath(), m_path);
    ::unsetenv("ZO_CONFIG");
    EXPECT_EQ(ZOPlatformInfo::ConfigPath(), "/etc/zo/zo.conf");
    ::setenv("ZO_CONFIG", "", 1);
    EXPECT_EQ(ZOPlatformInfo::ConfigPath(), "/etc/zo/zo.conf") << "an empty ZO_CONFIG is no path";
}

TEST_F(PlatformInfoTest, GetStringReportsPresenceAndValue) {
    WriteConfig("; comment\n# another\n[Brovant]\nZoScsiSrvInUse = 1\nEmpty =\n[Other]\nkey.with.dots = a b \n");
    ZOPlatformInfo info;
    std::string value = "unchanged";
    EXPECT_NE(info.getString("Brovant", "ZoScsiSrvInUse", &value), 0);
    EXPECT_EQ(value, "1");
    EXPECT_NE(info.getString("Brovant", "Empty", &value), 0) << "present though empty";
    EXPECT_EQ(value, "");
    EXPECT_NE(info.getString("Other", "key.with.dots", &value), 0) << "dots are part of the key";
    EXPECT_EQ(value, "a b");
    EXPECT_NE(info.getString("Brovant", "ZoScsiSrvInUse", nullptr), 0) << "value pointer may be null";
}

TEST_F(PlatformInfoTest, GetStringReportsAbsenceAndLeavesTheValueAlone) {
    WriteConfig("[Brovant]\nOther = 1\n");
    ZOPlatformInfo info;
    std::string value = "unchanged";
    EXPECT_EQ(info.getString("Brovant", "ZoScsiSrvInUse", &value), 0);
    EXPECT_EQ(info.getString("Missing", "ZoScsiSrvInUse", &value), 0);
    EXPECT_EQ(info.getString("brovant", "Other", &value), 0) << "names are case-sensitive";
    EXPECT_EQ(info.getString(nullptr, "Other", &value), 0);
    EXPECT_EQ(info.getString("Brovant", nullptr, &value), 0);
    EXPECT_EQ(value, "unchanged");
}

TEST_F(PlatformInfoTest, MissingFileReadsAsEmptyWithoutALogLine) {
    zotest::ScopedLogCapture log(5);
    ZOPlatformInfo info;
    std::string value;
    EXPECT_EQ(info.getString("Brovant", "ZoScsiSrvInUse", &value), 0);
    EXPECT_EQ(log->Count(), 0u) << log->Dump();
}

TEST_F(PlatformInfoTest, MalformedFileReadsAsEmptyAndIsReportedOnce) {
    WriteConfig("[Brovant]\nZoScsiSrvInUse = 1\n[Brovant\n");
    zotest::ScopedLogCapture log(0);
    ZOPlatformInfo info;
    std::string value;
    EXPECT_EQ(info.getString("Brovant", "ZoScsiSrvInUse", &value), 0);
    EXPECT_EQ(info.getString("Brovant", "ZoScsiSrvInUse", &value), 0);
    ASSERT_EQ(log->Count(), 1u) << log->Dump();
    EXPECT_EQ(log->Lines()[0].level, -1);
    EXPECT_NE(log->Lines()[0].text.find(m_path), std::string::npos) << log->Dump();
    EXPECT_NE(log->Lines()[0].text.find("malformed"), std::string::npos);

    WriteConfig("[Brovant]\nZoScsiSrvInUse = 1\n");
    EXPECT_NE(info.getString("Brovant", "ZoScsiSrvInUse", &value), 0) << "a mended file is read at once";
}

TEST_F(PlatformInfoTest, DuplicateKeysMakeAFileMalformed) {
    WriteConfig("[Brovant]\nZoScsiSrvInUse = 1\nZoScsiSrvInUse = 2\n");
    zotest::ScopedLogCapture log(-1);
    ZOPlatformInfo info;
    EXPECT_EQ(info.getString("Brovant", "ZoScsiSrvInUse", nullptr), 0);
    EXPECT_EQ(log->CountAtLevel(-1), 1u) << log->Dump();
}

TEST_F(PlatformInfoTest, MalformedReportHonoursTheLogGate) {
    WriteConfig("[Broken\n");
    zotest::ScopedLogCapture log(-2);
    ZOPlatformInfo info;
    EXPECT_EQ(info.getString("Broken", "x", nullptr), 0);
    EXPECT_EQ(log->Count(), 0u) << log->Dump();
}

TEST_F(PlatformInfoTest, EachQueryReadsTheFileAnew) {
    ZOPlatformInfo info;
    WriteConfig("[A]\nk = 1\n");
    std::string value;
    EXPECT_NE(info.getString("A", "k", &value), 0);
    EXPECT_EQ(value, "1");
    WriteConfig("[A]\nk = 22\n");
    EXPECT_NE(info.getString("A", "k", &value), 0);
    EXPECT_EQ(value, "22");
}

TEST(PlatformInfo, PhysicalMachineIsTheHostNameUpToTheFirstDot) {
    ASSERT_EQ(std::getenv("ZO_HOSTNAME"), nullptr) << "run without ZO_HOSTNAME";
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    std::string expected(host);
    expected = expected.substr(0, expected.find('.'));
    ZOPlatformInfo info;
    const char* name = info.getPhysicalMachine();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name), expected);
    EXPECT_EQ(std::string(name).find('.'), std::string::npos);
}

TEST(PlatformInfo, HostNameCanBeChosenThroughTheEnvironment) {
    ZOPlatformInfo info;
    ::setenv("ZO_HOSTNAME", "Chosen-Node.example.com", 1);
    EXPECT_STREQ(info.getPhysicalMachine(), "Chosen-Node");
    ::setenv("ZO_HOSTNAME", "", 1);
    EXPECT_STREQ(info.getPhysicalMachine(), "") << "an empty name stays empty";
    std::string mangled;
    EXPECT_EQ(info.getClientHostNameMangled(info.getPhysicalMachine(), mangled), 0);
    ::unsetenv("ZO_HOSTNAME");
}

struct MangleCase {
    const char* input;
    int ok;
    const char* mangled;
};

TEST(PlatformInfo, ClientHostNameManglingTable) {
    const std::string label63(63, 'a');
    const std::string label64(64, 'a');
    const MangleCase cases[] = {
        {"node1", 1, "node1"},
        {"Node-A1", 1, "node-a1"},
        {"STORAGE", 1, "storage"},
        {"my_host", 1, "my-host"},
        {"a.b.c", 1, "a-b-c"},
        {"two words", 1, "two-words"},
        {"\xC3\x84rger", 1, "--rger"},
        {"x/../y", 1, "x----y"},
        {label63.c_str(), 1, label63.c_str()},
        {label64.c_str(), 0, ""},
        {"", 0, ""},
        {nullptr, 0, ""},
    };
    ZOPlatformInfo info;
    for (const MangleCase& c : cases) {
        std::string mangled = "unchanged";
        int result = info.getClientHostNameMangled(c.input, mangled);
        SCOPED_TRACE(c.input ? c.input : "(null)");
        EXPECT_EQ(result != 0, c.ok != 0);
        EXPECT_EQ(mangled, c.ok ? c.mangled : "unchanged");
    }
}

}  // namespace
