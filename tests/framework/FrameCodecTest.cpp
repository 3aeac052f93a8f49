#include "zo/FrameCodec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using zo::FrameStatus;
using zo::FrameView;

constexpr size_t kMax = 1024;

TEST(FrameCodec, AppendsABigEndianLengthThenThePayload) {
    std::string out = "pre";
    zo::AppendFrame(out, "abc", 3);
    EXPECT_EQ(out, std::string("pre\0\0\0\x03" "abc", 10));
    std::string big;
    std::string payload(0x010203, 'p');
    zo::AppendFrame(big, payload.data(), payload.size());
    EXPECT_EQ(big.substr(0, 4), std::string("\x00\x01\x02\x03", 4));
    EXPECT_EQ(zo::FrameLength(big.data()), 0x010203u);
}

TEST(FrameCodec, ParsesACompleteFrameAndReportsWhatItConsumed) {
    std::string bytes;
    zo::AppendFrame(bytes, "hello", 5);
    bytes += "next";
    FrameView frame;
    std::string error;
    ASSERT_EQ(zo::ParseFrame(bytes.data(), bytes.size(), kMax, frame, error), FrameStatus::Complete);
    EXPECT_EQ(std::string(frame.payload, frame.payloadSize), "hello");
    EXPECT_EQ(frame.consumed, 9u);
}

TEST(FrameCodec, EveryPrefixOfAValidFrameIsIncomplete) {
    std::string bytes;
    const std::string payload = "<msg v=\"1\" g=\"75\" id=\"20\"/>";
    zo::AppendFrame(bytes, payload.data(), payload.size());
    for (size_t n = 0; n < bytes.size(); ++n) {
        FrameView frame;
        std::string error;
        EXPECT_EQ(zo::ParseFrame(bytes.data(), n, kMax, frame, error), FrameStatus::Incomplete) << "prefix " << n;
        EXPECT_EQ(error, "");
    }
    FrameView frame;
    std::string error;
    EXPECT_EQ(zo::ParseFrame(bytes.data(), bytes.size(), kMax, frame, error), FrameStatus::Complete);
}

TEST(FrameCodec, ZeroLengthIsAnError) {
    const std::string bytes("\0\0\0\0", 4);
    FrameView frame;
    std::string error;
    EXPECT_EQ(zo::ParseFrame(bytes.data(), bytes.size(), kMax, frame, error), FrameStatus::Error);
    EXPECT_NE(error.find("zero length"), std::string::npos) << error;
}

TEST(FrameCodec, LengthAboveTheLimitIsAnErrorAsSoonAsTheHeaderIsIn) {
    for (uint32_t length : {uint32_t(kMax + 1), 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        std::string bytes;
        bytes += static_cast<char>(length >> 24);
        bytes += static_cast<char>(length >> 16);
        bytes += static_cast<char>(length >> 8);
        bytes += static_cast<char>(length);
        FrameView frame;
        std::string error;
        EXPECT_EQ(zo::ParseFrame(bytes.data(), bytes.size(), kMax, frame, error), FrameStatus::Error) << length;
        EXPECT_NE(error.find("exceeds the limit of 1024"), std::string::npos) << error;
    }
}

TEST(FrameCodec, LengthAtTheLimitIsAccepted) {
    std::string bytes;
    std::string payload(kMax, 'x');
    zo::AppendFrame(bytes, payload.data(), payload.size());
    FrameView frame;
    std::string error;
    EXPECT_EQ(zo::ParseFrame(bytes.data(), bytes.size(), kMax, frame, error), FrameStatus::Complete);
    EXPECT_EQ(frame.payloadSize, kMax);
}

TEST(FrameCodec, BackToBackFramesParseOneAfterTheOther) {
    std::string bytes;
    for (const char* p : {"a", "bc", "def"}) zo::AppendFrame(bytes, p, std::char_traits<char>::length(p));
    std::vector<std::string> got;
    size_t at = 0;
    while (at < bytes.size()) {
        FrameView frame;
        std::string error;
        ASSERT_EQ(zo::ParseFrame(bytes.data() + at, bytes.size() - at, kMax, frame, error), FrameStatus::Complete);
        got.emplace_back(frame.payload, frame.payloadSize);
        at += frame.consumed;
    }
    EXPECT_EQ(got, (std::vector<std::string>{"a", "bc", "def"}));
}

}  // namespace
