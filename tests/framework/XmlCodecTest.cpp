#include "zo/XmlCodec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <random>
#include <thread>
#include <string>
#include <vector>

namespace {

constexpr unsigned long kType = 0x4B0000A1;

std::string Encode(const CNMessageBase& m) {
    std::string out;
    zo::EncodeMessage(m, out);
    return out;
}

std::unique_ptr<CNMessageBase> Decode(const std::string& xml, std::string& error,
                                      const zo::DecodeLimits& limits = zo::DecodeLimits()) {
    error.clear();
    return zo::DecodeMessage(xml.data(), xml.size(), limits, error);
}

// Empty when equal, else where they differ.
std::string Diff(const CNMessageBase& a, const CNMessageBase& b, const std::string& at = "msg") {
    if (a.Group() != b.Group() || a.Id() != b.Id()) return at + ": type differs";
    if (a.Fields().size() != b.Fields().size()) return at + ": field count differs";
    for (size_t i = 0; i < a.Fields().size(); ++i) {
        const CNField& x = a.Fields()[i];
        const CNField& y = b.Fields()[i];
        const std::string here = at + "[" + std::to_string(i) + "]";
        if (x.pairFirst != y.pairFirst || x.pairSecond != y.pairSecond) return here + ": pair differs";
        if (x.typeKey != y.typeKey || x.fieldKey != y.fieldKey) return here + ": keys differ";
        if (x.kind != y.kind) return here + ": kind differs";
        if (x.i64 != y.i64 || x.str != y.str || x.list != y.list) return here + ": value differs";
        if (bool(x.object) != bool(y.object)) return here + ": object presence differs";
        if (x.object) {
            std::string d = Diff(*x.object, *y.object, here);
            if (!d.empty()) return d;
        }
    }
    return "";
}

void ExpectRoundTrip(const CNMessageBase& m) {
    const std::string xml = Encode(m);
    std::string error;
    auto back = Decode(xml, error);
    ASSERT_NE(back, nullptr) << error << "\n" << xml;
    EXPECT_EQ(Diff(m, *back), "") << xml;
    EXPECT_EQ(Encode(*back), xml) << "encoding is deterministic";
}

void ExpectStringRoundTrip(const std::string& value) {
    CNMessageBase m(75, 1);
    m.setstring(1, 1, value, kType, 1);
    m.setliststring(2, 2, {value, value + value}, kType, 2);
    ExpectRoundTrip(m);
}

TEST(XmlCodec, RoundTripsEveryFieldKind) {
    CNMessageBase m(75, 20);
    CNMessageBase* header = m.getObjectAccessor(true, true, 1, 1, 0x4B000010, 0x2A9F11, 75, 16);
    header->setint64(1, 1, 7, 0x4B000010, 0x100);
    header->setint64(2, 2, 1, 0x4B000010, 0x101);
    m.setstring(2, 2, "iqn.2024-01.com.example:target1", kType, 0x12);
    m.setint64(3, 3, LLONG_MIN, kType, 0x13);
    m.setint64(4, 4, LLONG_MAX, kType, 0x14);
    m.setint64(5, 5, 0, kType, 0x15);
    m.setliststring(6, 6, {"one", "", "three"}, kType, 0x16);
    m.setliststring(7, 7, {}, kType, 0x17);
    m.setstring(8, 8, "", kType, 0x18);
    m.setint64(-32768, 32767, -1, 0xFFFFFFFFul, 0xFFFFFF);
    m.getObjectAccessor(true, true, 9, 9, kType, 0x19, 75, 99);  // empty object
    CNMessageBase* level1 = m.getObjectAccessor(true, true, 10, 10, kType, 0x1A, 9, 13);
    CNMessageBase* level2 = level1->getObjectAccessor(true, true, 1, 1, 0x901E1E8, 1, 9, 14);
    level2->setstring(1, 1, "deep", 0x901E1E8, 2);
    level2->getObjectAccessor(true, true, 1, 1, 0x901E1E8, 3, 9, 15)->setliststring(1, 1, {"x"}, 1, 1);
    ExpectRoundTrip(m);
}

TEST(XmlCodec, RoundTripsAnEmptyMessage) {
    CNMessageBase m(9, 51);
    ExpectRoundTrip(m);
    EXPECT_EQ(Encode(m), "<msg v=\"1\" g=\"9\" id=\"51\"/>");
}

TEST(XmlCodec, WritesTheDocumentedForm) {
    CNMessageBase m(75, 20);
    m.getObjectAccessor(true, true, 1, 1, 0x4B000010, 0xA, 75, 16)->setint64(1, 1, -5, 0x4B000010, 0xB);
    m.setstring(2, 2, "a<b", 0x4B000010, 0xC);
    m.setstring(3, 3, std::string("\x01", 1), 0x4B000010, 0xD);
    m.setliststring(4, 4, {"x", ""}, 0x4B000010, 0xE);
    EXPECT_EQ(Encode(m),
              "<msg v=\"1\" g=\"75\" id=\"20\">"
              "<o p1=\"1\" p2=\"1\" t=\"4b000010\" k=\"a\" g=\"75\" id=\"16\">"
              "<i p1=\"1\" p2=\"1\" t=\"4b000010\" k=\"b\" v=\"-5\"/></o>"
              "<s p1=\"2\" p2=\"2\" t=\"4b000010\" k=\"c\">a&lt;b</s>"
              "<s p1=\"3\" p2=\"3\" t=\"4b000010\" k=\"d\" x=\"1\">01</s>"
              "<l p1=\"4\" p2=\"4\" t=\"4b000010\" k=\"e\"><e>x</e><e/></l>"
              "</msg>");
}

TEST(XmlCodec, RoundTripsEveryByte) {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
        ExpectStringRoundTrip(std::string(1, static_cast<char>(c)));
    }
    ExpectStringRoundTrip(all);
}

TEST(XmlCodec, RoundTripsAwkwardStrings) {
    const std::string cases[] = {
        std::string("a\0b", 3),
        std::string("\0", 1),
        "\r\n",
        "line1\nline2\ttab",
        " ",
        "  leading and trailing  ",
        "\n",
        "]]>",
        "<![CDATA[x]]>",
        "&amp; &lt; literal",
        "\"quotes\" and 'apostrophes'",
        "<msg v=\"1\"/>",
        "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80",  // valid UTF-8: a-umlaut, euro, emoji
        "\xC3",                                  // truncated sequence
        "\xC0\xAF",                              // overlong
        "\xED\xA0\x80",                          // surrogate
        "\xEF\xBF\xBE",                          // U+FFFE
        "\xF4\x90\x80\x80",                      // above U+10FFFF
        "\xFF\xFE",
        "\x7F",
        std::string(100000, 'x'),
    };
    for (const std::string& s : cases) {
        SCOPED_TRACE(testing::PrintToString(s.substr(0, 40)));
        ExpectStringRoundTrip(s);
    }
}

TEST(XmlCodec, KeepsValidTextReadableAndHexesTheRest) {
    CNMessageBase m(75, 1);
    m.setstring(1, 1, "\xE2\x82\xAC 5", kType, 1);
    m.setstring(2, 2, "bad\xFF", kType, 2);
    const std::string xml = Encode(m);
    EXPECT_NE(xml.find(">\xE2\x82\xAC 5</s>"), std::string::npos) << xml;
    EXPECT_NE(xml.find(" x=\"1\">626164ff</s>"), std::string::npos) << xml;
}

TEST(XmlCodec, RoundTripsRandomByteStrings) {
    std::mt19937 random(12345);
    for (int i = 0; i < 2000; ++i) {
        std::string s(random() % 40, '\0');
        for (char& c : s) c = static_cast<char>(random() % 4 == 0 ? random() % 32 : random() % 256);
        ExpectStringRoundTrip(s);
    }
}

TEST(XmlCodec, DecodesHandWrittenXmlWithDeclarationCommentsAndIndentation) {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!-- a request -->\n"
        "<msg v=\"1\" g=\"75\" id=\"20\" extra=\"ignored\">\n"
        "  <o t=\"4B000010\" k=\"A\" g=\"75\" id=\"16\">\n"
        "    <i p1=\"1\" p2=\"1\" t=\"4b000010\" k=\"b\" v=\"-5\"/>\n"
        "  </o>\n"
        "  <s p1=\"2\" p2=\"2\" t=\"4b000010\" k=\"c\">caf&#xE9; &amp; <![CDATA[<raw>]]></s>\n"
        "  <l t=\"4b000010\" k=\"e\">\n    <e>x</e>\n    <e x=\"1\">00FF</e>\n  </l>\n"
        "</msg>\n";
    std::string error;
    auto m = Decode(xml, error);
    ASSERT_NE(m, nullptr) << error;
    CNMessageBase* header = m->getObjectAccessor(true, false, 0, 0, 0x4B000010, 0xA, 0, 0);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->getint64(1, 0x4B000010, 0xB), -5);
    EXPECT_EQ(m->getstring(0, 0, 0x4B000010, 0xC), "caf\xC3\xA9 & <raw>");
    auto* list = m->getliststring(0, 0, 0x4B000010, 0xE, false);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(*list, (std::vector<std::string>{"x", std::string("\0\xFF", 2)}));
    EXPECT_EQ(m->FindField(0x4B000010, 0xA)->pairFirst, 0) << "a missing pair reads as 0";
}

TEST(XmlCodec, JoinsTextAndCdataOfAStringInDocumentOrder) {
    const std::string xml = "<msg v=\"1\" g=\"1\" id=\"1\"><s t=\"1\" k=\"1\">a<![CDATA[<b>]]>c<![CDATA[d]]></s>"
                            "<l t=\"1\" k=\"2\"><e><![CDATA[x]]>y</e><e>z<![CDATA[]]></e><e/></l></msg>";
    std::string error;
    auto m = Decode(xml, error);
    ASSERT_NE(m, nullptr) << error;
    EXPECT_EQ(m->getstring(0, 0, 1, 1), "a<b>cd");
    auto* list = m->getliststring(0, 0, 1, 2, false);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(*list, (std::vector<std::string>{"xy", "z", ""}));
}

TEST(XmlCodec, RefusesAControlCharacterAtAnyPositionOfLongText) {
    // Long runs of plain text are checked several bytes at a time; a bad byte
    // is found wherever it falls in such a run, and DEL (a valid XML
    // character) is not mistaken for one.
    const std::string head = "<msg v=\"1\" g=\"1\" id=\"1\"><s t=\"1\" k=\"1\">";
    const std::string tail = "</s></msg>";
    for (size_t at = 0; at < 40; ++at) {
        for (char bad : {'\x01', '\x1f', '\x80', '\0'}) {
            std::string text(40, 'a');
            text[at] = bad;
            std::string error;
            EXPECT_EQ(Decode(head + text + tail, error), nullptr) << "byte " << int(bad) << " at " << at;
            EXPECT_FALSE(error.empty());
        }
        std::string text(40, ' ');
        text[at] = '\x7f';
        std::string error;
        auto m = Decode(head + text + tail, error);
        ASSERT_NE(m, nullptr) << "DEL at " << at << ": " << error;
        EXPECT_EQ(m->getstring(0, 0, 1, 1), text);
    }
}

TEST(XmlCodec, DecodingInPlaceGivesTheSameMessage) {
    CNMessageBase m(75, 7);
    m.setstring(1, 1, std::string("bytes \0\x01\xff<&>", 11), kType, 1);
    m.setliststring(2, 2, {"one#two", "", std::string(5000, 'x')}, kType, 2);
    m.setint64(3, 3, -7, kType, 3);
    std::string xml = Encode(m);
    std::string error;
    auto copied = Decode(xml, error);
    ASSERT_NE(copied, nullptr) << error;
    auto inPlace = zo::DecodeMessageInPlace(&xml[0], xml.size(), zo::DecodeLimits(), error);
    ASSERT_NE(inPlace, nullptr) << error;
    EXPECT_EQ(Diff(*copied, m), "");
    EXPECT_EQ(Diff(*inPlace, m), "");
    std::string bad = "<msg v=\"1\" g=\"1\" id=\"1\">loose</msg>";
    EXPECT_EQ(zo::DecodeMessageInPlace(&bad[0], bad.size(), zo::DecodeLimits(), error), nullptr);
    EXPECT_NE(error.find("unexpected text inside <msg>"), std::string::npos) << error;
}

struct BadCase {
    const char* name;
    std::string xml;
    const char* expect;  // a part of the error text
};

TEST(XmlCodec, RejectsBadInputWithAClearError) {
    const std::string head = "<msg v=\"1\" g=\"75\" id=\"20\">";
    const std::string field = "<i t=\"1\" k=\"1\" v=\"1\"/>";
    const BadCase cases[] = {
        {"empty", "", "empty message"},
        {"garbage", "hello world", "text outside the root element"},
        {"binary", std::string("\x00\x01\x02\x03", 4), "NUL byte"},
        {"invalid utf-8", head + "<s t=\"1\" k=\"1\">a\xFF\xFE" "b</s></msg>", "invalid UTF-8"},
        {"truncated utf-8", head + "<s t=\"1\" k=\"1\">a\xC3</s></msg>", "invalid UTF-8"},
        {"overlong utf-8", head + "<s t=\"1\" k=\"1\">\xC0\xAF</s></msg>", "invalid UTF-8"},
        {"surrogate", head + "<s t=\"1\" k=\"1\">\xED\xA0\x80</s></msg>", "invalid UTF-8"},
        {"noncharacter", head + "<s t=\"1\" k=\"1\">\xEF\xBF\xBF</s></msg>", "invalid UTF-8"},
        {"raw control character", head + "<s t=\"1\" k=\"1\">a\x01" "b</s></msg>", "control character 1"},
        {"truncated", head + field, "malformed XML"},
        {"mismatched", head + "</m>", "malformed XML"},
        {"wrong root", "<message v=\"1\" g=\"1\" id=\"1\"/>", "root element is <message>"},
        {"no version", "<msg g=\"1\" id=\"1\"/>", "no protocol version"},
        {"other version", "<msg v=\"2\" g=\"1\" id=\"1\"/>", "unsupported protocol version \"2\""},
        {"no type", "<msg v=\"1\"/>", "message type"},
        {"doctype", "<!DOCTYPE msg><msg v=\"1\" g=\"1\" id=\"1\"/>", "DOCTYPE"},
        {"entity bomb",
         "<!DOCTYPE msg [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>" + head +
             "<s t=\"1\" k=\"1\">&b;</s></msg>",
         "entity"},
        {"undefined entity", head + "<s t=\"1\" k=\"1\">&nbsp;</s></msg>", "undefined entity"},
        {"nul reference", head + "<s t=\"1\" k=\"1\">a&#0;b</s></msg>", "character reference"},
        {"unknown element", head + "<x t=\"1\" k=\"1\"/></msg>", "unknown element <x>"},
        {"unknown list item", head + "<l t=\"1\" k=\"1\"><f/></l></msg>", "unknown element <f> inside <l>"},
        {"no keys", head + "<i v=\"1\"/></msg>", "type key or field key"},
        {"bad key", head + "<i t=\"xyz\" k=\"1\" v=\"1\"/></msg>", "type key or field key"},
        {"bad number", head + "<i t=\"1\" k=\"1\" v=\"12a\"/></msg>", "bad value on <i>"},
        {"overflow", head + "<i t=\"1\" k=\"1\" v=\"99999999999999999999\"/></msg>", "bad value on <i>"},
        {"key overflow", head + "<i t=\"10000000000000000\" k=\"1\" v=\"1\"/></msg>", "type key or field key"},
        {"negative key", head + "<i t=\"1\" k=\"-1\" v=\"1\"/></msg>", "type key or field key"},
        {"empty value", head + "<i t=\"1\" k=\"1\" v=\"\"/></msg>", "bad value on <i>"},
        {"lone minus", head + "<i t=\"1\" k=\"1\" v=\"-\"/></msg>", "bad value on <i>"},
        {"plus sign", head + "<i t=\"1\" k=\"1\" v=\"+5\"/></msg>", "bad value on <i>"},
        {"spaces in number", head + "<i t=\"1\" k=\"1\" v=\" 5\"/></msg>", "bad value on <i>"},
        {"bad pair", head + "<i p1=\"70000\" t=\"1\" k=\"1\" v=\"1\"/></msg>", "bad field pair"},
        {"odd hex", head + "<s t=\"1\" k=\"1\" x=\"1\">abc</s></msg>", "odd length"},
        {"bad hex", head + "<s t=\"1\" k=\"1\" x=\"1\">zz</s></msg>", "bad hex digit"},
        {"element in string", head + "<s t=\"1\" k=\"1\">a<b/>c</s></msg>", "element inside <s>"},
        {"text in message", head + "loose text</msg>", "unexpected text inside <msg>"},
        {"text before a field", head + "loose" + field + "</msg>", "unexpected text inside <msg>"},
        {"text after a field", head + field + "loose</msg>", "unexpected text inside <msg>"},
        {"text in object", head + "<o t=\"1\" k=\"1\" g=\"1\" id=\"1\">loose" + field + "</o></msg>",
         "unexpected text inside <o>"},
        {"text in list", head + "<l t=\"1\" k=\"1\">loose<e>a</e></l></msg>", "unexpected text inside <l>"},
        {"text between items", head + "<l t=\"1\" k=\"1\"><e>a</e>loose</l></msg>", "unexpected text inside <l>"},
        {"two roots", "<msg v=\"1\" g=\"1\" id=\"1\"/><msg v=\"1\" g=\"1\" id=\"1\"/>", "more than one root"},
        {"text after root", "<msg v=\"1\" g=\"1\" id=\"1\"/>trailing", "text outside the root"},
        {"duplicate field", head + field + field + "</msg>", "appears twice"},
        {"object without type", head + "<o t=\"1\" k=\"1\"/></msg>", "object type"},
    };
    for (const BadCase& c : cases) {
        std::string error;
        auto m = Decode(c.xml, error);
        EXPECT_EQ(m, nullptr) << c.name;
        EXPECT_NE(error.find(c.expect), std::string::npos) << c.name << ": got \"" << error << "\"";
    }
}

TEST(XmlCodec, DuplicateFieldsAreFoundInLargeMessagesToo) {
    std::string xml = "<msg v=\"1\" g=\"1\" id=\"1\">";
    for (int i = 0; i < 100; ++i) xml += "<i t=\"1\" k=\"" + std::to_string(i) + "\" v=\"0\"/>";
    xml += "<i t=\"1\" k=\"50\" v=\"0\"/></msg>";
    std::string error;
    EXPECT_EQ(Decode(xml, error), nullptr);
    EXPECT_NE(error.find("appears twice"), std::string::npos) << error;
}

std::string Nested(unsigned levels) {
    std::string xml = "<msg v=\"1\" g=\"1\" id=\"1\">";
    for (unsigned i = 0; i < levels; ++i) xml += "<o t=\"1\" k=\"1\" g=\"1\" id=\"1\">";
    for (unsigned i = 0; i < levels; ++i) xml += "</o>";
    return xml + "</msg>";
}

TEST(XmlCodec, NestingUpToTheLimitDecodesAndOneMoreIsRefused) {
    zo::DecodeLimits limits;
    std::string error;
    EXPECT_NE(Decode(Nested(limits.maxDepth), error, limits), nullptr) << error;
    EXPECT_EQ(Decode(Nested(limits.maxDepth + 1), error, limits), nullptr);
    EXPECT_NE(error.find("nested deeper than 16"), std::string::npos) << error;
}

TEST(XmlCodec, VeryDeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string error;
    EXPECT_EQ(Decode(Nested(200000), error), nullptr);
    EXPECT_NE(error.find("nested deeper than"), std::string::npos) << error;
    zo::DecodeLimits generous;
    generous.maxDepth = 1000000;
    EXPECT_EQ(Decode(Nested(200000), error, generous), nullptr) << "the walk has a ceiling of its own";
    EXPECT_NE(error.find("nested deeper than"), std::string::npos) << error;
}

std::string ManyFields(size_t count) {
    std::string xml = "<msg v=\"1\" g=\"1\" id=\"1\">";
    for (size_t i = 0; i < count; ++i) xml += "<i t=\"1\" k=\"" + std::to_string(i) + "\" v=\"1\"/>";
    return xml + "</msg>";
}

TEST(XmlCodec, TheTagCountBeforeParsingCountsEveryAngleBracketExactly) {
    // Every '<' counts as a possible element before the parser runs: with a
    // limit of 10 fields, 23 of them (11 elements) still pass to the parser,
    // 24 (12) are refused at once, wherever they fall in the bytes and
    // whatever text (line breaks, UTF-8) comes between them.
    zo::DecodeLimits limits;
    limits.maxFields = 10;
    for (size_t shift = 0; shift < 9; ++shift) {
        for (size_t brackets : {18u, 19u}) {
            std::string text(shift, 'a');
            for (size_t i = 0; i < brackets; ++i)
                text += i % 3 == 0 ? "<" : i % 5 == 0 ? "\n<\xc3\xa9" : "<a";
            const std::string xml =
                "<msg v=\"1\" g=\"1\" id=\"1\"><s t=\"1\" k=\"1\"><![CDATA[" + text + "]]></s></msg>";
            std::string error;
            auto m = Decode(xml, error, limits);
            SCOPED_TRACE("shift " + std::to_string(shift) + ", " + std::to_string(brackets + 5) + " brackets");
            if (brackets + 5 < 24) {
                ASSERT_NE(m, nullptr) << error;
                EXPECT_EQ(m->getstring(0, 0, 1, 1), text);
            } else {
                EXPECT_EQ(m, nullptr);
                EXPECT_NE(error.find("more than 10 fields"), std::string::npos) << error;
            }
        }
    }
}

TEST(XmlCodec, TooManyFieldsAreRefused) {
    zo::DecodeLimits limits;
    limits.maxFields = 1000;
    std::string error;
    EXPECT_NE(Decode(ManyFields(1000), error, limits), nullptr) << error;
    EXPECT_EQ(Decode(ManyFields(100000), error, limits), nullptr);
    EXPECT_NE(error.find("more than 1000 fields"), std::string::npos) << error;
    // Just above the limit gets past the cheap pre-count and is caught in the walk.
    EXPECT_EQ(Decode(ManyFields(1001), error, limits), nullptr);
    EXPECT_NE(error.find("more than 1000 fields"), std::string::npos) << error;
}

TEST(XmlCodec, ListItemsCountAsFields) {
    zo::DecodeLimits limits;
    limits.maxFields = 10;
    CNMessageBase m(1, 1);
    m.setliststring(1, 1, std::vector<std::string>(10, "x"), 1, 1);
    std::string error;
    EXPECT_EQ(Decode(Encode(m), error, limits), nullptr);
    EXPECT_NE(error.find("more than 10 fields"), std::string::npos) << error;
}

TEST(XmlCodec, OneHundredThousandFieldsDecodeWithinTheDefaultLimits) {
    std::string error;
    auto m = Decode(ManyFields(100000), error);
    ASSERT_NE(m, nullptr) << error;
    EXPECT_EQ(m->Fields().size(), 100000u);
}

TEST(XmlCodec, MessagesAboveTheFrameLimitAreRefused) {
    zo::DecodeLimits limits;
    limits.maxFrameBytes = 100;
    CNMessageBase m(1, 1);
    m.setstring(1, 1, std::string(200, 'x'), 1, 1);
    std::string error;
    EXPECT_EQ(Decode(Encode(m), error, limits), nullptr);
    EXPECT_NE(error.find("exceeds the limit of 100"), std::string::npos) << error;
}

TEST(XmlCodec, EveryPrefixOfAValidMessageFailsCleanly) {
    CNMessageBase m(75, 20);
    m.getObjectAccessor(true, true, 1, 1, kType, 1, 75, 16)->setint64(1, 1, 3, kType, 2);
    m.setstring(2, 2, "a&b\xFF", kType, 3);
    m.setliststring(3, 3, {"x", "y"}, kType, 4);
    const std::string xml = Encode(m);
    for (size_t n = 0; n < xml.size(); ++n) {
        std::string error;
        EXPECT_EQ(Decode(xml.substr(0, n), error), nullptr) << n;
        EXPECT_FALSE(error.empty()) << n;
    }
}

TEST(XmlCodec, CorruptedMessagesNeverCrash) {
    CNMessageBase m(75, 20);
    m.getObjectAccessor(true, true, 1, 1, kType, 1, 75, 16)->setint64(1, 1, 3, kType, 2);
    m.setstring(2, 2, "text & more", kType, 3);
    m.setliststring(3, 3, {"x", "\x01"}, kType, 4);
    const std::string xml = Encode(m);
    std::mt19937 random(7);
    const char alphabet[] = "<>/&;=\" x1ovlesi#\0";
    for (int i = 0; i < 5000; ++i) {
        std::string bad = xml;
        for (int flips = 1 + random() % 3; flips > 0; --flips)
            bad[random() % bad.size()] = alphabet[random() % (sizeof alphabet - 1)];
        std::string error;
        auto decoded = Decode(bad, error);
        EXPECT_TRUE(decoded != nullptr || !error.empty());
    }
}

TEST(XmlCodec, HugeFieldLimitMeansNoLimit) {
    zo::DecodeLimits limits;
    limits.maxFields = SIZE_MAX;
    std::string error;
    EXPECT_NE(Decode(ManyFields(10), error, limits), nullptr) << error;
}

TEST(XmlCodec, AcceptsCharacterReferencesWithLeadingZeros) {
    std::string error;
    auto m = Decode("<msg v=\"1\" g=\"1\" id=\"1\"><s t=\"1\" k=\"1\">&#x00000041;&#0000066;</s></msg>", error);
    ASSERT_NE(m, nullptr) << error;
    EXPECT_EQ(m->getstring(0, 0, 1, 1), "AB");
}

TEST(XmlCodec, DecodesOnManyThreadsAtOnce) {
    CNMessageBase m(75, 20);
    m.setstring(1, 1, std::string(5000, 'w'), kType, 1);
    m.setliststring(2, 2, {"a", "\x02"}, kType, 2);
    const std::string xml = Encode(m);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                std::string error;
                auto back = zo::DecodeMessage(xml.data(), xml.size(), zo::DecodeLimits(), error);
                if (back && Diff(m, *back).empty()) ++good;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(good.load(), 2000);
}

TEST(XmlCodec, DescribeGivesAOneLineDump) {
    CNMessageBase m(75, 20);
    m.setint64(1, 1, 5, 0x4B, 0x1);
    m.setstring(2, 2, "a\"\x01", 0x4B, 0x2);
    m.setliststring(3, 3, {"x"}, 0x4B, 0x3);
    m.getObjectAccessor(true, true, 4, 4, 0x4B, 0x4, 75, 13);
    EXPECT_EQ(zo::DescribeMessage(m),
              "msg 75/20 {(1,1) 4b/1=5, (2,2) 4b/2=\"a\\\"\\x01\", (3,3) 4b/3=[\"x\"], (4,4) 4b/4=msg 75/13 {}}");
}

}  // namespace
