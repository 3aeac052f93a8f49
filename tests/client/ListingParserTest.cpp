// The LUN listing parser, the time converter and the record rendering, as
// pure functions (no connection).
#include "ListingParser.h"

#include "support/CaptureLog.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <regex>
#include <string>
#include <utility>
#include <vector>

using ZoScsiSrvClientInternal::ParseListLunOutput;
using ZoScsiSrvClientInternal::SplitListingLine;
using ZoScsiSrvClientInternal::strEpochToTime;
using LunInfo = ZoScsiSrvClient::LunInfo;

namespace {

const char* const kParseFunction =
    "void {anonymous}::ParseListLunOutput(const std::vector<std::__cxx11::basic_string<char> >&, "
    "std::vector<ZoScsiSrvClient::LunInfo>&)";

std::vector<std::string> RegexSplit(const std::string& line) {
    static const std::regex separator("#", std::regex::ECMAScript);
    return {std::sregex_token_iterator(line.begin(), line.end(), separator, -1), std::sregex_token_iterator()};
}

std::vector<std::string> HandSplit(const std::string& line) {
    std::vector<std::string_view> fields(line.size() + 1);
    const size_t count = SplitListingLine(line, fields.data(), fields.size());
    return {fields.begin(), fields.begin() + static_cast<long>(count)};
}

// Every string over {a, b, #} of length 0 to `maxLength`.
std::vector<std::string> AllStrings(size_t maxLength) {
    std::vector<std::string> all{""};
    for (size_t begin = 0, length = 0; length < maxLength; ++length) {
        const size_t end = all.size();
        for (size_t i = begin; i < end; ++i)
            for (char c : {'a', 'b', '#'}) all.push_back(all[i] + c);
        begin = end;
    }
    return all;
}

}  // namespace

TEST(ListingParser, SplitMatchesRegexTokenSplitOnEveryShortString) {
    std::vector<std::string> lines = AllStrings(8);
    ASSERT_EQ(lines.size(), 9841u);
    for (const char* edge : {"tgt01#host01#3#100", "tgt01#host01#3#100#", "#host01#3#10", "####", "a##b##",
                             "no separator at all", "#", "##a"})
        lines.push_back(edge);
    lines.push_back(std::string(300, '#') + "x");
    lines.push_back(std::string("a\0b#c", 5));
    for (const std::string& line : lines) ASSERT_EQ(HandSplit(line), RegexSplit(line)) << "line [" << line << "]";
}

// Long lines are scanned a word at a time: separators at every offset of a
// word, next to bytes that differ from '#' only in the high bit or a low bit,
// and in the tail after the last whole word.
TEST(ListingParser, SplitMatchesRegexTokenSplitOnLongLinesOfAnyByte) {
    const char alphabet[] = {'#', 'a', '\xa3', '\0', '\x22', '\x7f', '#'};
    uint32_t state = 12345;
    auto next = [&state] { return state = state * 1103515245u + 12345u, state >> 16; };
    for (int round = 0; round < 20000; ++round) {
        std::string line(9 + next() % 56, 'a');
        for (char& c : line) c = alphabet[next() % sizeof alphabet];
        ASSERT_EQ(HandSplit(line), RegexSplit(line)) << "round " << round;
    }
}

TEST(ListingParser, SplitCountsFieldsBeyondCapacityButStoresOnlyCapacity) {
    std::string_view fields[2];
    EXPECT_EQ(SplitListingLine("a#b#c#d#e", fields, 2), 5u);
    EXPECT_EQ(fields[0], "a");
    EXPECT_EQ(fields[1], "b");
    EXPECT_EQ(SplitListingLine("", fields, 0), 1u);
}

struct ParseCase {
    const char* line;
    bool used;
    const char* lun;
    const char* target;
    const char* host;
    int64_t creationTime;
    const char* message;  // the level -1 line it causes, or null
};

// One row per listing line: the record it gives (if any) and the line logged.
const ParseCase kParseCases[] = {
    {"tgt01#host01#3#100", true, "3", "tgt01", "host01", 100, nullptr},
    {"tgt01#-#3#100", true, "3", "tgt01", "", 100, nullptr},
    {"tgt01#--#3#100", true, "3", "tgt01", "--", 100, nullptr},
    {"tgt01#- #3#100", true, "3", "tgt01", "- ", 100, nullptr},
    {"tgt01#host01#3#100#", true, "3", "tgt01", "host01", 100, nullptr},
    {"#host01#3#10", true, "3", "", "host01", 10, nullptr},
    {"TGT01#Host01# 3 #100", true, " 3 ", "TGT01", "Host01", 100, nullptr},
    {"tgt01#host01#3# 42abc", true, "3", "tgt01", "host01", 42, nullptr},
    {"tgt01#host01#3#-1", true, "3", "tgt01", "host01", -1, nullptr},
    {"tgt01#host01#3#abc", true, "3", "tgt01", "host01", 0,
     "Incorrect LUN creation epoch time [tgt01#host01#3#abc]"},
    {"tgt01#host01#3#99999999999999999999", true, "3", "tgt01", "host01", 0,
     "Incorrect LUN creation epoch time [tgt01#host01#3#99999999999999999999]"},
    {"tgt01##3#", false, nullptr, nullptr, nullptr, 0, "Ignoring invalid LUN list format [tgt01##3#]"},
    {"tgt01#host01#3", false, nullptr, nullptr, nullptr, 0, "Ignoring invalid LUN list format [tgt01#host01#3]"},
    {"tgt01#host01#3#", false, nullptr, nullptr, nullptr, 0, "Ignoring invalid LUN list format [tgt01#host01#3#]"},
    {"tgt01#host01#3#100#x", false, nullptr, nullptr, nullptr, 0,
     "Ignoring invalid LUN list format [tgt01#host01#3#100#x]"},
    {"", false, nullptr, nullptr, nullptr, 0, "Ignoring invalid LUN list format []"},
};

// Every case in both forms: lines kept (read only) and lines given up
// (released as they are read).
std::vector<std::pair<ParseCase, bool>> Combinations() {
    std::vector<std::pair<ParseCase, bool>> all;
    for (const ParseCase& c : kParseCases)
        for (const bool giveUp : {false, true}) all.emplace_back(c, giveUp);
    return all;
}

TEST(ListingParser, EachLineGivesItsRecordAndLogLine) {
    for (const auto& [c, giveUp] : Combinations()) {
        SCOPED_TRACE(std::string(c.line) + (giveUp ? " (lines given up)" : " (lines kept)"));
        zotest::ScopedLogCapture log(0);
        std::vector<LunInfo> luns;
        std::vector<std::string> input{c.line};
        if (giveUp) {
            ParseListLunOutput(std::move(input), luns);
            EXPECT_EQ(input, std::vector<std::string>{""}) << "a given-up line is released";
        } else {
            ParseListLunOutput(input, luns);
            EXPECT_EQ(input, std::vector<std::string>{c.line}) << "a kept line is not touched";
        }
        if (c.used) {
            ASSERT_EQ(luns.size(), 1u);
            EXPECT_EQ(luns[0].lun, c.lun);
            EXPECT_EQ(luns[0].target, c.target);
            EXPECT_EQ(luns[0].host, c.host);
            EXPECT_EQ(luns[0].creationTime, c.creationTime);
        } else {
            EXPECT_TRUE(luns.empty());
        }
        const auto lines = log->Lines();
        if (!c.message) {
            EXPECT_TRUE(lines.empty()) << log->Dump();
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << log->Dump();
        EXPECT_EQ(lines[0].level, -1);
        EXPECT_EQ(lines[0].function, kParseFunction);
        EXPECT_EQ(lines[0].text, c.message);
    }
}

TEST(ListingParser, KeepsLineOrderAndSkipsBadLinesWithoutStopping) {
    zotest::ScopedLogCapture log(0);
    std::vector<LunInfo> luns;
    ParseListLunOutput({"t1#h1#1#1", "broken", "t2#-#2#2", "t3#h3#3#x"}, luns);
    ASSERT_EQ(luns.size(), 3u);
    EXPECT_EQ(luns[0].target, "t1");
    EXPECT_EQ(luns[1].target, "t2");
    EXPECT_EQ(luns[2].target, "t3");
    EXPECT_EQ(log->CountAtLevel(-1), 2u);
}

TEST(ListingParser, WritesOverOldRecordsAndDropsTheRest) {
    zotest::ScopedLogCapture log(0);
    std::vector<LunInfo> luns{LunInfo("9", "a-much-longer-old-target-name", "old-host-name-long", 1),
                              LunInfo("8", "old", "h", 2), LunInfo("7", "old", "h", 3)};
    ParseListLunOutput({"t1#-#1#10", "bad", "t2#h2#2#20"}, luns);
    ASSERT_EQ(luns.size(), 2u);
    EXPECT_EQ(luns[0].str(), "Lun: [1] Target: [t1] Host: [] Creation Time: [10]");
    EXPECT_EQ(luns[1].str(), "Lun: [2] Target: [t2] Host: [h2] Creation Time: [20]");
    const std::vector<std::string> more{"t1#h#1#1", "t2#h#2#2", "t3#h#3#3", "t4#h#4#4"};
    ParseListLunOutput(more, luns);
    ASSERT_EQ(luns.size(), 4u);
    EXPECT_EQ(luns[3].target, "t4");
}

TEST(ListingParser, ReplacesOldRecordsEvenWhenNoLineIsValid) {
    zotest::ScopedLogCapture log(0);
    std::vector<LunInfo> luns{LunInfo("9", "old", "", 1)};
    ParseListLunOutput({"bad", "also#bad"}, luns);
    EXPECT_TRUE(luns.empty());
    luns.emplace_back("9", "old", "", 1);
    ParseListLunOutput({}, luns);
    EXPECT_TRUE(luns.empty());
}

// The parser's complaints are written whatever the level: they do not ask it.
TEST(ListingParser, LogsBadLinesEvenBelowFailureLevel) {
    zotest::ScopedLogCapture log(-2);
    std::vector<LunInfo> luns;
    ParseListLunOutput({"bad", "t#h#1#x"}, luns);
    EXPECT_EQ(log->CountAtLevel(-1), 2u);
}

struct EpochCase {
    const char* text;
    bool converted;
    int64_t time;
};

const EpochCase kEpochCases[] = {
    {"100", true, 100},
    {"1234567890123456789", true, 1234567890123456789},
    {"12abc", true, 12},
    {"00000000000000000000042", true, 42},
    {"9999999999999999999", true, static_cast<int64_t>(9999999999999999999ull)},
    {"0", true, 0},
    {" 42abc", true, 42},
    {"\t\n\v\f\r 7", true, 7},
    {"+5", true, 5},
    {"-1", true, -1},
    {"0x10", true, 0},
    {"18446744073709551615", true, -1},
    {"9223372036854775808", true, INT64_MIN},
    {"-18446744073709551615", true, 1},
    {"18446744073709551616", false, 0},
    {"99999999999999999999", false, 0},
    {"abc", false, 0},
    {"", false, 0},
    {" ", false, 0},
    {"- 5", false, 0},
    {"+-5", false, 0},
};

TEST(ListingParser, EpochConversionFollowsStoull) {
    for (const EpochCase& c : kEpochCases) {
        SCOPED_TRACE(std::string("[") + c.text + "]");
        int64_t time = 77;
        EXPECT_EQ(strEpochToTime(c.text, time), c.converted);
        EXPECT_EQ(time, c.converted ? c.time : 77);
    }
}

TEST(LunInfo, RendersOneLineWithTheTimeAsUnsigned) {
    EXPECT_EQ(LunInfo("3", "tgt01", "", 100).str(), "Lun: [3] Target: [tgt01] Host: [] Creation Time: [100]");
    EXPECT_EQ(LunInfo("3", "tgt01", "h1", -1).str(),
              "Lun: [3] Target: [tgt01] Host: [h1] Creation Time: [18446744073709551615]");
    EXPECT_EQ(LunInfo("%s", "%d", "%%", INT64_MIN).str(),
              "Lun: [%s] Target: [%d] Host: [%%] Creation Time: [9223372036854775808]");
}
