#include "LogWriter.h"
#include "ZODebugFunction.h"
#include "support/CaptureLog.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Runs `body` with standard error sent to a file and returns what was written.
template <typename Body>
std::string CaptureStderr(Body body) {
    char path[] = "/tmp/zo-logtest-XXXXXX";
    int fd = ::mkstemp(path);
    EXPECT_GE(fd, 0);
    int saved = ::dup(2);
    ::dup2(fd, 2);
    body();
    ::dup2(saved, 2);
    ::close(saved);
    ::close(fd);
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(path);
    return text.str();
}

// True when `text` matches `pattern`, where '9' stands for any digit and
// every other character for itself.
bool MatchesShape(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (pattern[i] == '9' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i])
            return false;
    }
    return true;
}

// Sets an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        const char* old = std::getenv(name);
        m_had = old != nullptr;
        if (old) m_old = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_had) ::setenv(m_name.c_str(), m_old.c_str(), 1);
        else ::unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

TEST(Log, DefaultWriterIsInstalledOnStandardError) {
    ASSERT_TRUE(g_ptrLogWriter);
    EXPECT_NE(dynamic_cast<StderrLogWriter*>(g_ptrLogWriter.get()), nullptr);
}

TEST(Log, StderrWriterWritesOneTimestampedLinePerCall) {
    StderrLogWriter writer(0);
    std::string out = CaptureStderr([&] {
        writer.Write(1, "CYbError X::Y(int)", 42, 0, 0, "created %s #%d", "t1", 7);
        writer.Write(-1, nullptr, 3, 0, 0, "no function");
    });
    const std::string first = out.substr(0, out.find('\n'));
    EXPECT_TRUE(MatchesShape(first, "9999-99-99T99:99:99.999Z L1 CYbError X::Y(int):42 created t1 #7")) << out;
    EXPECT_NE(out.find("Z L-1 -:3 no function\n"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
}

TEST(Log, StderrWriterKeepsEachCallOnOneLine) {
    StderrLogWriter writer(0);
    std::string out = CaptureStderr([&] { writer.Write(0, "f", 1, 0, 0, "a\nb\r\nc\n\n"); });
    EXPECT_NE(out.find(" f:1 a b  c\n"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

TEST(Log, StderrWriterWritesLongLinesWhole) {
    StderrLogWriter writer(0);
    const std::string big(200000, 'z');
    std::string out = CaptureStderr([&] { writer.Write(0, "f", 1, 0, 0, "%s|end", big.c_str()); });
    EXPECT_NE(out.find(big + "|end\n"), std::string::npos);
}

TEST(Log, StderrWriterLinesFromManyThreadsNeverInterleave) {
    StderrLogWriter writer(0);
    const std::string payload(3000, 'p');
    std::string out = CaptureStderr([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 200; ++i) writer.Write(0, "f", t, 0, 0, "<%s>", payload.c_str());
            });
        for (auto& th : threads) th.join();
    });
    std::istringstream lines(out);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_NE(line.find(" L0 f:"), std::string::npos);
        EXPECT_EQ(line.substr(line.size() - payload.size() - 2), "<" + payload + ">");
    }
    EXPECT_EQ(count, 800);
}

TEST(Log, StderrWriterLevelComesFromEnvironmentThenConfigurationThenFailuresOnly) {
    char dir[] = "/tmp/zo-logtest-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/zo.conf";
    std::ofstream(path) << "[Log]\nLevel = 3\n";
    {
        ScopedEnv config("ZO_CONFIG", path.c_str());
        ScopedEnv level("ZO_LOG_LEVEL", "-2");
        EXPECT_EQ(StderrLogWriter().GetLevel(), -2);
    }
    {
        ScopedEnv config("ZO_CONFIG", path.c_str());
        ScopedEnv level("ZO_LOG_LEVEL", nullptr);
        EXPECT_EQ(StderrLogWriter().GetLevel(), 3);
    }
    {
        ScopedEnv config("ZO_CONFIG", path.c_str());
        ScopedEnv level("ZO_LOG_LEVEL", "loud");
        EXPECT_EQ(StderrLogWriter().GetLevel(), 3) << "a level that is not a number is ignored";
    }
    {
        ScopedEnv config("ZO_CONFIG", (std::string(dir) + "/missing.conf").c_str());
        ScopedEnv level("ZO_LOG_LEVEL", nullptr);
        EXPECT_EQ(StderrLogWriter().GetLevel(), -1) << "a library is quiet unless asked";
        EXPECT_EQ(StderrLogWriter::ConfiguredLevel(0), 0) << "a program chooses its own default";
    }
    ::unlink(path.c_str());
    ::rmdir(dir);
}

TEST(Log, StderrWriterOnTheJournalStreamStartsLinesWithTheirPriority) {
    char path[] = "/tmp/zo-logtest-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    struct stat status {};
    ASSERT_EQ(::fstat(fd, &status), 0);
    // Kept open to the end, so that no file made meanwhile gets its inode.
    const std::string elsewhere = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    const struct {
        int level;
        const char* head;
    } priorities[] = {{-2, "<3>L-2 "}, {-1, "<3>L-1 "}, {0, "<5>L0 "}, {1, "<6>L1 "}, {2, "<7>L2 "}, {5, "<7>L5 "}};
    // CaptureStderr puts a new file on standard error: the stream matches
    // only when JOURNAL_STREAM names that file, so it is read there.
    std::string out = CaptureStderr([&] {
        struct stat err {};
        ::fstat(2, &err);
        ScopedEnv journal("JOURNAL_STREAM", (std::to_string(err.st_dev) + ":" + std::to_string(err.st_ino)).c_str());
        StderrLogWriter writer(5);
        for (const auto& p : priorities) writer.Write(p.level, "f", 7, 0, 0, "text");
    });
    std::istringstream lines(out);
    for (const auto& p : priorities) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line)) << out;
        EXPECT_EQ(line, std::string(p.head) + "f:7 text");
    }
    // A stream inherited from a parent whose standard error was elsewhere.
    out = CaptureStderr([&] {
        ScopedEnv journal("JOURNAL_STREAM", elsewhere.c_str());
        StderrLogWriter(0).Write(-1, "f", 7, 0, 0, "text");
    });
    EXPECT_TRUE(MatchesShape(out, "9999-99-99T99:99:99.999Z L-1 f:7 text\n")) << out;
    ::close(fd);
    ::unlink(path);
}

TEST(Log, StderrWriterLevelCanBeSet) {
    StderrLogWriter writer(1);
    EXPECT_EQ(writer.GetLevel(), 1);
    writer.SetLevel(-2);
    EXPECT_EQ(writer.GetLevel(), -2);
}

TEST(Log, FormatHandlesAnyLength) {
    EXPECT_EQ(ZoFormat("%d-%s", 5, "x"), "5-x");
    EXPECT_EQ(ZoFormat("%s", ""), "");
    const std::string big(100000, 'q');
    EXPECT_EQ(ZoFormat("[%s]", big.c_str()), "[" + big + "]");
}

TEST(Log, CaptureInstallsItselfAndRestoresThePreviousWriter) {
    boost::shared_ptr<CLogWriterInterface> before = g_ptrLogWriter;
    {
        zotest::ScopedLogCapture log(1);
        EXPECT_EQ(g_ptrLogWriter.get(), &log.writer());
        g_ptrLogWriter->Write(1, "fn", 9, 0, 0, "hello %d", 1);
        ASSERT_EQ(log->Count(), 1u);
        auto line = log->Lines()[0];
        EXPECT_EQ(line.level, 1);
        EXPECT_EQ(line.function, "fn");
        EXPECT_EQ(line.line, 9);
        EXPECT_EQ(line.text, "hello 1");
        EXPECT_EQ(g_ptrLogWriter->GetLevel(), 1);
        log->SetLevel(-2);
        EXPECT_EQ(g_ptrLogWriter->GetLevel(), -2);
    }
    EXPECT_EQ(g_ptrLogWriter, before);
}

// The idiom every caller follows: a tracer only when the level is at least 1.
std::unique_ptr<ZODebugFunction> TraceIfEnabled(const char* function, unsigned int line) {
    if (g_ptrLogWriter->GetLevel() < 1) return nullptr;
    return std::make_unique<ZODebugFunction>(g_ptrLogWriter, 2, function, line, 1, 0, 0xFFFFFFFFu, nullptr);
}

TEST(Log, AtLevelMinusTwoNoLineAndNoTracerIsMade) {
    zotest::ScopedLogCapture log(-2);
    const long constructed = ZODebugFunction::Constructed();
    {
        auto tracer = TraceIfEnabled("CYbError A::B()", 10);
        EXPECT_EQ(tracer, nullptr);
        // A tracer made anyway at -2 writes nothing either.
        ZODebugFunction direct(g_ptrLogWriter, 2, "CYbError A::B()", 11, 1, 0, 0xFFFFFFFFu, nullptr);
    }
    EXPECT_EQ(ZODebugFunction::Constructed(), constructed + 1) << "only the direct one";
    EXPECT_EQ(log->Count(), 0u) << log->Dump();
}

TEST(Log, TracerAtLevelOneExistsButWritesNothing) {
    zotest::ScopedLogCapture log(1);
    const long alive = ZODebugFunction::Alive();
    {
        auto tracer = TraceIfEnabled("CYbError A::B()", 10);
        ASSERT_NE(tracer, nullptr);
        EXPECT_EQ(ZODebugFunction::Alive(), alive + 1);
    }
    EXPECT_EQ(ZODebugFunction::Alive(), alive);
    EXPECT_EQ(log->Count(), 0u) << log->Dump();
}

TEST(Log, TracerAtLevelTwoWritesEntryAndExitWithElapsedTime) {
    zotest::ScopedLogCapture log(2);
    { auto tracer = TraceIfEnabled("CYbError A::B()", 10); }
    auto lines = log->Lines();
    ASSERT_EQ(lines.size(), 2u) << log->Dump();
    for (const auto& l : lines) {
        EXPECT_EQ(l.level, 2);
        EXPECT_EQ(l.function, "CYbError A::B()");
        EXPECT_EQ(l.line, 10);
        EXPECT_EQ(l.arg1, 0);
        EXPECT_EQ(l.arg2, 0);
    }
    EXPECT_EQ(lines[0].text, "enter");
    const std::string& exit = lines[1].text;
    EXPECT_EQ(exit.rfind("exit after ", 0), 0u) << exit;
    EXPECT_EQ(exit.substr(exit.size() - 3), " ms") << exit;
    EXPECT_GE(std::stod(exit.substr(11)), 0.0) << exit;
}

TEST(Log, TracerEntryTextIsFormatted) {
    zotest::ScopedLogCapture log(5);
    { ZODebugFunction tracer(g_ptrLogWriter, 2, "f", 1, 1, 0, 0xFFFFFFFFu, "lun %d", 4); }
    ASSERT_EQ(log->Count(), 2u);
    EXPECT_EQ(log->Lines()[0].text, "enter: lun 4");
}

TEST(Log, TracerExitPairsWithItsEntryWhateverTheLevelDoesMeanwhile) {
    zotest::ScopedLogCapture log(2);
    {
        ZODebugFunction tracer(g_ptrLogWriter, 2, "f", 1, 1, 0, 0xFFFFFFFFu, nullptr);
        log->SetLevel(-2);
    }
    EXPECT_EQ(log->Count(), 2u) << "entered, so it exits";
    log->Clear();
    {
        ZODebugFunction tracer(g_ptrLogWriter, 2, "f", 1, 1, 0, 0xFFFFFFFFu, nullptr);
        log->SetLevel(2);
    }
    EXPECT_EQ(log->Count(), 0u) << "never entered, so no exit";
}

TEST(Log, TracerWithoutWriterIsHarmless) {
    ZODebugFunction tracer(boost::shared_ptr<CLogWriterInterface>(), 2, "f", 1, 1, 0, 0xFFFFFFFFu, nullptr);
    SUCCEED();
}

}  // namespace
