// A property test of the service's validators over random names: whatever
// they accept holds only characters of the allowed set, never '#', a line
// break, a control character or a leading '-', and makes a listing line that
// the client's parser splits back into exactly the same four fields.
//
// The names are drawn so that both outcomes are common: mostly from the
// characters a name may hold, salted with the ones it must not (and now and
// then wholly random bytes), with lengths around the bound.
#include "Scale.h"
#include "ListingParser.h"
#include "common/Names.h"
#include "inventory/ListingLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string_view>

using namespace zoscsi;

namespace {

const std::string kTargetCharacters = "abcdefghijklmnopqrstuvwxyz0123456789.-:";
const std::string kHostile = std::string("#\n\r\t -\x7f\x1b", 9) + std::string(1, '\0') + "\xc3\xa9\xff:;$`|&<>'\"\\*?/AZ_";

std::string RandomName(std::mt19937& random) {
    const unsigned shape = random() % 100;
    size_t length = random() % 40;
    if (shape < 5) length = 0;
    else if (shape < 15) length = kMaxNameBytes - 3 + random() % 6;  // around the bound
    std::string name;
    for (size_t i = 0; i < length; ++i) {
        const unsigned kind = random() % 100;
        if (shape >= 90) name += static_cast<char>(random());  // any byte
        else if (kind < 92) name += kTargetCharacters[random() % kTargetCharacters.size()];
        else name += kHostile[random() % kHostile.size()];
    }
    if (!name.empty() && random() % 20 == 0) name[0] = '-';
    return name;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// What no accepted name or text may hold, whichever validator let it in.
void ExpectLineSafe(const char* what, const std::string& value, bool isName) {
    for (unsigned char c : value) {
        ASSERT_FALSE(IsControl(c)) << what << " " << Quote(value) << " holds a control character";
        ASSERT_NE(c, '#') << what << " " << Quote(value);
    }
    if (isName) {
        ASSERT_FALSE(value.empty()) << what;
        ASSERT_NE(value[0], '-') << what << " " << Quote(value) << " starts with '-'";
        ASSERT_LE(value.size(), kMaxNameBytes) << what;
    }
}

void ExpectListingRoundTrip(const std::string& target, const std::string& host) {
    const std::string line = ListingLine(target, host, 7, 1700000000);
    std::string_view fields[5];
    ASSERT_EQ(ZoScsiSrvClientInternal::SplitListingLine(line, fields, 5), 4u) << Quote(line);
    EXPECT_EQ(fields[0], target);
    EXPECT_EQ(fields[1], host.empty() ? "-" : host);
    EXPECT_EQ(fields[2], "7");
    EXPECT_EQ(fields[3], "1700000000");
}

TEST(NameProperty, NoAcceptedNameCanBreakAListingLineOrPassForAnOption) {
    const long draws = zorel::Scaled("ZO_RELIABILITY_NAMES", 100000);
    const uint32_t seed = zorel::Seed();
    std::mt19937 random(seed);
    long targets = 0, hosts = 0, texts = 0;
    for (long n = 0; n < draws && !::testing::Test::HasFatalFailure(); ++n) {
        const std::string name = RandomName(random);
        if (CheckTargetName(name).ok()) {
            ++targets;
            ExpectLineSafe("target name", name, true);
            for (char c : name) ASSERT_NE(kTargetCharacters.find(c), std::string::npos) << Quote(name);
            ASSERT_TRUE((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')) << Quote(name);
            ExpectListingRoundTrip(name, "");
        }
        if (CheckHostName(name).ok()) {
            ++hosts;
            ExpectLineSafe("host name", name, true);
            ASSERT_EQ(name.find(' '), std::string::npos) << Quote(name);
            ExpectListingRoundTrip("tgt01", name);
        }
        if (CheckText("option text", name).ok()) {
            ++texts;
            ExpectLineSafe("option text", name, false);
        }
    }
    std::printf("seed %u: %ld names drawn; accepted %ld as target, %ld as host, %ld as text\n", seed, draws, targets,
                hosts, texts);
    // Both outcomes must be common, or the draw tests nothing.
    EXPECT_GT(targets, draws / 10);
    EXPECT_LT(targets, draws * 9 / 10);
    EXPECT_GT(hosts, draws / 10);
    EXPECT_LT(hosts, draws * 9 / 10);
}

}  // namespace
