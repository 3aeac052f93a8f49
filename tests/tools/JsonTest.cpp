// The --json writer: every byte string becomes a valid JSON string, and
// documents keep their member order.
#include "Json.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

using zoctl::json::Quote;
using zoctl::json::Value;

struct EscapeCase {
    const char* what;
    std::string in;
    std::string out;  // without the surrounding quotes
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.what; }

class JsonEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsonEscape, QuotesTheBytes) {
    const auto& c = GetParam();
    EXPECT_EQ(Quote(c.in), "\"" + c.out + "\"") << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, JsonEscape,
    ::testing::Values(
        EscapeCase{"plain", "tgt01", "tgt01"},
        EscapeCase{"empty", "", ""},
        EscapeCase{"quote and backslash", "a\"b\\c", "a\\\"b\\\\c"},
        EscapeCase{"slash stays", "a/b", "a/b"},
        EscapeCase{"short escapes", "\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
        EscapeCase{"nul", std::string("a\0b", 3), "a\\u0000b"},
        EscapeCase{"other controls", "\x01\x1f\x1b", "\\u0001\\u001f\\u001b"},
        EscapeCase{"delete", "\x7f", "\\u007f"},
        EscapeCase{"two-byte utf-8", "caf\xc3\xa9", "caf\xc3\xa9"},
        EscapeCase{"three-byte utf-8", "\xe2\x82\xac", "\xe2\x82\xac"},
        EscapeCase{"four-byte utf-8", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        EscapeCase{"line separators", "\xe2\x80\xa8\xe2\x80\xa9", "\\u2028\\u2029"},
        EscapeCase{"lone continuation", "a\x80z", "a\\ufffdz"},
        EscapeCase{"invalid lead bytes", "\xc0\xc1\xf5\xff", "\\ufffd\\ufffd\\ufffd\\ufffd"},
        EscapeCase{"overlong two-byte", "\xc0\xaf", "\\ufffd\\ufffd"},
        EscapeCase{"overlong three-byte", "\xe0\x80\xaf", "\\ufffd\\ufffd\\ufffd"},
        EscapeCase{"surrogate", "\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},
        EscapeCase{"above U+10FFFF", "\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},
        EscapeCase{"truncated at end", "ab\xe2\x82", "ab\\ufffd"},
        EscapeCase{"truncated before ascii", "\xf0\x9f\x98z", "\\ufffdz"},
        EscapeCase{"truncated before quote", "\xc3\"", "\\ufffd\\\""},
        EscapeCase{"two truncated in a row", "\xe2\x82\xe2\x82", "\\ufffd\\ufffd"}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

TEST(JsonEscape, EveryByteValueGivesPrintableAscii) {
    // No raw control byte, and only bytes of well-formed sequences, may reach
    // the document; a lone byte >= 0x80 always becomes U+FFFD.
    for (int b = 0; b < 256; ++b) {
        const std::string quoted = Quote(std::string(1, static_cast<char>(b)));
        for (unsigned char c : quoted) {
            EXPECT_GE(c, 0x20) << "byte " << b;
            EXPECT_LT(c, 0x7f) << "byte " << b;
        }
    }
}

TEST(JsonValue, DumpsScalarsAndNestedDocumentsInOrder) {
    Value doc = Value::Object();
    doc.Set("ok", true);
    doc.Set("n", -5);
    doc.Set("big", 18446744073709551615ull);
    doc.Set("none", nullptr);
    Value list = Value::Array();
    list.Push("a").Push(Value::Object()).Push(Value::Array());
    doc.Set("list", std::move(list));
    doc.Set("ok", false);  // keeps its place
    EXPECT_EQ(doc.Dump(), R"({"ok":false,"n":-5,"big":18446744073709551615,"none":null,"list":["a",{},[]]})");
}

TEST(JsonValue, KeysAreEscapedToo) {
    Value doc = Value::Object();
    doc.Set("a\"\n", "x");
    EXPECT_EQ(doc.Dump(), R"({"a\"\n":"x"})");
}

TEST(JsonValue, MergeAppendsAndOverrides) {
    Value a = Value::Object();
    a.Set("ok", true).Set("x", 1);
    Value b = Value::Object();
    b.Set("x", 2).Set("y", 3);
    a.Merge(b);
    EXPECT_EQ(a.Dump(), R"({"ok":true,"x":2,"y":3})");
}

}  // namespace
