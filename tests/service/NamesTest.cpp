// What the service accepts as names, texts, ids and sizes.
#include "common/Names.h"
#include "inventory/ListingLine.h"
#include "protocol/OptionText.h"

#include <gtest/gtest.h>

#include <limits>

using namespace zoscsi;

namespace {

constexpr int kOk = ZoScsiServer::kErrNone;
constexpr int kInvalid = ZoScsiServer::kErrInvalidArgument;

struct NameCase {
    std::string name;
    int expected;
};

std::string Printable(const std::string& text) { return Quote(text); }

}  // namespace

TEST(Names, TargetNamesAreLowerCaseIqnCharacters) {
    const NameCase cases[] = {
        {"tgt01", kOk},
        {"iqn.2024-01.com.example:disk-1", kOk},
        {"0start", kOk},
        {std::string(223, 'a'), kOk},
        {std::string(224, 'a'), kInvalid},
        {"", kInvalid},
        {"Tgt01", kInvalid},
        {"-tgt", kInvalid},
        {".hidden", kInvalid},
        {"..", kInvalid},
        {":x", kInvalid},
        {"a#b", kInvalid},
        {"a b", kInvalid},
        {"a\nb", kInvalid},
        {"a/b", kInvalid},
        {"a_b", kInvalid},
        {std::string("a\0b", 3), kInvalid},
        {"caf\xc3\xa9", kInvalid},
    };
    for (const NameCase& c : cases) EXPECT_EQ(CheckTargetName(c.name).number, c.expected) << Printable(c.name);
}

TEST(Names, HostNamesAreKeptAsSentButCannotBreakALine) {
    const NameCase cases[] = {
        {"host01", kOk},
        {"Host01.Example.COM", kOk},
        {"iqn.1993-08.org.debian:01:abcdef", kOk},
        {"h\xc3\xa9te", kOk},
        {"h-", kOk},
        {std::string(223, 'h'), kOk},
        {std::string(224, 'h'), kInvalid},
        {"", kInvalid},
        {"-", kInvalid},
        {"--", kInvalid},
        {"-h", kInvalid},
        {"a b", kInvalid},
        {"a\tb", kInvalid},
        {"a#b", kInvalid},
        {"a\nb", kInvalid},
        {"a\rb", kInvalid},
        {"a\x7f", kInvalid},
        {std::string("a\0b", 3), kInvalid},
        // Not UTF-8: such names would all list alike (U+FFFD) and could not be unmapped by the listed name.
        {"h\xe9te", kInvalid},             // Latin-1
        {"h\xc3", kInvalid},               // cut short
        {"h\xc0\xafx", kInvalid},          // overlong
        {"h\xed\xa0\x80", kInvalid},       // a surrogate
        {"h\xf4\x90\x80\x80", kInvalid},   // above U+10FFFF
        {"h\xf0\x9f\x92\xbe", kOk},        // U+1F4BE
    };
    for (const NameCase& c : cases) EXPECT_EQ(CheckHostName(c.name).number, c.expected) << Printable(c.name);
    EXPECT_TRUE(CheckStoredHostName("h\xe9te").ok()) << "an older inventory's name can still be unmapped";
    EXPECT_EQ(CheckHostName("h\xe9te").text, "host name \"h\\xE9te\" is not valid UTF-8");
}

TEST(Names, FreeTextHasNoSeparatorLineBreakOrControlCharacter) {
    const NameCase cases[] = {
        {"", kOk},
        {"-s 64M", kOk},
        {std::string(kMaxTextBytes, 'x'), kOk},
        {std::string(kMaxTextBytes + 1, 'x'), kInvalid},
        {"a#b", kInvalid},
        {"line\nbreak", kInvalid},
        {"line\rbreak", kInvalid},
        {"\t", kInvalid},
        {std::string("\0", 1), kInvalid},
    };
    for (const NameCase& c : cases) EXPECT_EQ(CheckText("text", c.name).number, c.expected) << Printable(c.name);
}

TEST(Names, RefusalTextsQuoteTheValueSafely) {
    const ServiceStatus status = CheckHostName("bad\nname#");
    EXPECT_EQ(status.number, kInvalid);
    EXPECT_EQ(status.text.find('\n'), std::string::npos) << status.text;
    EXPECT_NE(status.text.find("\\x0A"), std::string::npos) << status.text;
    EXPECT_EQ(Quote(std::string(100, 'x')), "\"" + std::string(64, 'x') + "\"...");
}

TEST(Names, LunIdsAreOneTo16383) {
    const std::pair<int64_t, int> cases[] = {
        {1, kOk}, {16383, kOk}, {0, kInvalid}, {-1, kInvalid}, {16384, kInvalid},
        {std::numeric_limits<int64_t>::max(), kInvalid}, {std::numeric_limits<int64_t>::min(), kInvalid},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckLunId(c.first).number, c.second) << c.first;
}

TEST(Names, SizesAreBytesOrBinarySuffixesInMultiplesOf512) {
    constexpr uint64_t kMax = 16ull << 40;
    const struct {
        std::string text;
        int expected;
        uint64_t bytes;
    } cases[] = {
        {"512", kOk, 512},
        {"1k", kOk, 1024},
        {"1K", kOk, 1024},
        {"64M", kOk, 64ull << 20},
        {"64m", kOk, 64ull << 20},
        {"2G", kOk, 2ull << 30},
        {"16T", kOk, kMax},
        {"17T", kInvalid, 0},
        {"17592186044417", kInvalid, 0},
        {"0", kInvalid, 0},
        {"0M", kInvalid, 0},
        {"511", kInvalid, 0},
        {"1000", kInvalid, 0},
        {"", kInvalid, 0},
        {"M", kInvalid, 0},
        {"64MB", kInvalid, 0},
        {"64P", kInvalid, 0},
        {"-1", kInvalid, 0},
        {"+64M", kInvalid, 0},
        {"1.5G", kInvalid, 0},
        {" 64M", kInvalid, 0},
        {"99999999999999999999", kInvalid, 0},
        {"18446744073709551615T", kInvalid, 0},
        {"18014398509481984K", kInvalid, 0},
    };
    for (const auto& c : cases) {
        uint64_t bytes = 0;
        EXPECT_EQ(ParseSize(c.text, kMax, bytes).number, c.expected) << c.text;
        if (c.expected == kOk) {
            EXPECT_EQ(bytes, c.bytes) << c.text;
        }
    }
}

TEST(Names, LunNamesJoinTargetAndId) { EXPECT_EQ(LunName("tgt01", 3), "tgt01:lun3"); }

TEST(ListingLine, FourFieldsWithADashForNoHost) {
    EXPECT_EQ(ListingLine("tgt01", "", 3, 100), "tgt01#-#3#100");
    EXPECT_EQ(ListingLine("tgt01", "Host01", 16383, 1700000000), "tgt01#Host01#16383#1700000000");
    EXPECT_EQ(ListingLine("t", "h", 1, 0), "t#h#1#0");
}

TEST(OptionText, DecimalsAreSignedDigitsOnly) {
    const struct {
        std::string text;
        bool ok;
        int64_t value;
    } cases[] = {
        {"7", true, 7},           {"-3", true, -3},     {"+4", true, 4},
        {"0042", true, 42},       {"", false, 0},       {"-", false, 0},
        {"4x", false, 0},         {" 4", false, 0},     {"0x10", false, 0},
        {"9223372036854775807", true, std::numeric_limits<int64_t>::max()},
        {"9223372036854775808", false, 0},
        {"-9223372036854775809", false, 0},
    };
    for (const auto& c : cases) {
        int64_t value = 0;
        EXPECT_EQ(ParseDecimal(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(OptionText, TolerantInFormStrictInContent) {
    const std::vector<OptionRule> lun = {{"-s", true, false}, {"-li", true, false}};
    const std::vector<OptionRule> byTarget = {{"-h", true, false}, {"-llt", false, false}, {"-ti", true, true}};
    const struct {
        std::string text;
        const std::vector<OptionRule>* allowed;
        int expected;
        std::vector<std::pair<std::string, std::string>> values;
    } cases[] = {
        {"", &lun, kOk, {}},
        {"-s 64M", &lun, kOk, {{"-s", "64M"}}},
        {"   -s    64M   ", &lun, kOk, {{"-s", "64M"}}},
        {" -li 7", &lun, kOk, {{"-li", "7"}}},
        {" -li -3", &lun, kOk, {{"-li", "-3"}}},
        {"-li 2 -s 1M", &lun, kOk, {{"-li", "2"}, {"-s", "1M"}}},
        {"-h node1 -llt -ti tgt01", &byTarget, kOk, {{"-h", "node1"}, {"-llt", ""}, {"-ti", "tgt01"}}},
        {"-ti Tgt01 -h node1", &byTarget, kOk, {{"-ti", "Tgt01"}}},
        {"-h node1 -llt", &byTarget, kInvalid, {}},
        {"-s", &lun, kInvalid, {}},
        {"-s 1M -s 2M", &lun, kInvalid, {}},
        {"-x 1", &lun, kInvalid, {}},
        {"64M", &lun, kInvalid, {}},
        {"-S 64M", &lun, kInvalid, {}},
        {"-s 1M#", &lun, kInvalid, {}},
        {"-s\t1M", &lun, kInvalid, {}},
        {"-s 1M\n-s 2M", &lun, kInvalid, {}},
    };
    for (const auto& c : cases) {
        ParsedOptions options;
        const ServiceStatus status = ParseOptions("options", c.text, *c.allowed, options);
        EXPECT_EQ(status.number, c.expected) << Quote(c.text) << ": " << status.text;
        for (const auto& value : c.values) {
            EXPECT_TRUE(options.Has(value.first)) << c.text << " " << value.first;
            EXPECT_EQ(options.Value(value.first), value.second) << c.text << " " << value.first;
        }
    }
}
