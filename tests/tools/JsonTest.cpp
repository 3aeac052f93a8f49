// The --json documents: every byte string becomes a valid JSON string, and
// members keep the order in which they were set.
#include "Json.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

using zoctl::Dump;
using zoctl::Json;

struct EscapeCase {
    const char* what;
    std::string in;
    std::string out;  // without the surrounding quotes
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.what; }

class JsonEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscape, QuotesTheBytes) {
    const auto& c = GetParam();
    EXPECT_EQ(Dump(Json(c.in)), "\"" + c.out + "\"") << c.what;
}

const std::string kReplacement = "\xef\xbf\xbd";  // U+FFFD

INSTANTIATE_TEST_SUITE_P(
    Table, JsonEscape,
    ::testing::Values(
        EscapeCase{"plain", "tgt01", "tgt01"},
        EscapeCase{"quote and backslash", "a\"b\\c", "a\\\"b\\\\c"},
        EscapeCase{"short escapes", "\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
        EscapeCase{"nul and other controls", std::string("a\0\x1b", 3), "a\\u0000\\u001b"},
        EscapeCase{"utf-8 kept", "caf\xc3\xa9 \xf0\x9f\x98\x80", "caf\xc3\xa9 \xf0\x9f\x98\x80"},
        EscapeCase{"lone continuation", "a\x80z", "a" + kReplacement + "z"},
        EscapeCase{"invalid lead byte", "\xff", kReplacement},
        EscapeCase{"surrogate", "\xed\xa0\x80", kReplacement + kReplacement + kReplacement},
        EscapeCase{"truncated at end", "ab\xe2\x82", "ab" + kReplacement}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(JsonEscape, EveryByteValueGivesADocumentThatParses) {
    for (int b = 0; b < 256; ++b) {
        const std::string doc = Dump(Json{{"name", std::string("x") + static_cast<char>(b) + "y"}});
        EXPECT_TRUE(Json::accept(doc)) << "byte " << b << ": " << doc;
        for (unsigned char c : doc) EXPECT_GE(c, 0x20) << "byte " << b;
    }
}

TEST(JsonValue, KeepsMemberOrderAndKinds) {
    Json doc = Json::object();
    doc["ok"] = true;
    doc["n"] = -5;
    doc["big"] = 18446744073709551615ull;
    doc["none"] = nullptr;
    doc["list"] = Json::array({"a", Json::object(), Json::array()});
    doc["ok"] = false;  // keeps its place
    EXPECT_EQ(Dump(doc), R"({"ok":false,"n":-5,"big":18446744073709551615,"none":null,"list":["a",{},[]]})");
}

}  // namespace
