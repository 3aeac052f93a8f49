#include "CYbError.h"
#include "FXErrorUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

FXCodeLocation Here(const char* function, int line) { return FXCodeLocation("ErrorTest", function, line); }

TEST(Error, SuccessIsNoErrorAndRendersAsSuccess) {
    CYbError ok = CYbError::Success();
    EXPECT_FALSE(ok.IsError());
    EXPECT_EQ(ok.Status(), 0);
    EXPECT_EQ(ok.Code(), 0u);
    EXPECT_EQ(ok.Message(), "");
    EXPECT_TRUE(ok.Trail().empty());
    EXPECT_EQ(ok.ToString(), "success");
}

TEST(Error, ErrorWin32IsAnErrorWithCodeMessageAndMakersFrame) {
    CYbError e = FXErrorUtil::ErrorWin32(Here("Make", 10), 774, "Failed to %s, errNum=%d", "launch", 3);
    EXPECT_TRUE(e.IsError());
    EXPECT_LT(e.Status(), 0) << "top bit of the status word";
    EXPECT_EQ(e.Status() & 0xFFFF, 774) << "code in the low bits";
    EXPECT_EQ(e.Code(), 774u);
    EXPECT_EQ(e.Space(), FXErrorSpace::Host);
    EXPECT_EQ(e.Message(), "Failed to launch, errNum=3");
    auto trail = e.Trail();
    ASSERT_EQ(trail.size(), 1u);
    EXPECT_EQ(trail[0].file, "ErrorTest");
    EXPECT_EQ(trail[0].function, "Make");
    EXPECT_EQ(trail[0].line, 10);
    EXPECT_EQ(trail[0].text, "Failed to launch, errNum=3");
}

TEST(Error, ErrorErrNoIsAnErrorInTheErrnoSpace) {
    CYbError e = FXErrorUtil::ErrorErrNo(Here("Check", 5), 22, "empty id");
    EXPECT_TRUE(e.IsError());
    EXPECT_EQ(e.Code(), 22u);
    EXPECT_EQ(e.Space(), FXErrorSpace::ErrNo);
    EXPECT_NE(e.Status(), FXErrorUtil::ErrorWin32(Here("Check", 5), 22, "x").Status())
        << "the two code spaces give distinct status words";
}

TEST(Error, CodeZeroStillMakesAnError) {
    EXPECT_TRUE(FXErrorUtil::ErrorWin32(Here("f", 1), 0, "zero").IsError());
}

TEST(Error, CopyTestsAsErrorAndSharesTheTrail) {
    CYbError original = FXErrorUtil::ErrorWin32(Here("Inner", 1), 258, "timed out");
    CYbError copy = original;
    EXPECT_TRUE(copy.IsError());
    copy.Push(Here("Outer", 2));
    EXPECT_EQ(original.Trail().size(), 2u) << "a push on a copy shows in every copy";
    CYbError assigned;
    assigned = copy;
    EXPECT_TRUE(assigned.IsError());
    assigned.Push(Here("Top", 3), "more");
    EXPECT_EQ(original.Trail().size(), 3u);
}

TEST(Error, PushWithoutTextAddsAFrameWithEmptyText) {
    CYbError e = FXErrorUtil::ErrorWin32(Here("Inner", 1), 774, "m");
    CYbError& same = e.Push(Here("Outer", 22));
    EXPECT_EQ(&same, &e) << "Push returns the same object";
    auto trail = e.Trail();
    ASSERT_EQ(trail.size(), 2u);
    EXPECT_EQ(trail[1].function, "Outer");
    EXPECT_EQ(trail[1].line, 22);
    EXPECT_EQ(trail[1].text, "");
    EXPECT_EQ(e.Message(), "m") << "pushing keeps the message";
}

TEST(Error, PushWithTextFormatsIt) {
    CYbError e = FXErrorUtil::ErrorWin32(Here("Inner", 1), 774, "m");
    CYbError& same = e.Push(Here("Outer", 7), "while mapping %s to %d", "host-a", 12);
    EXPECT_EQ(&same, &e);
    EXPECT_EQ(e.Trail().back().text, "while mapping host-a to 12");
}

TEST(Error, PushOntoSuccessKeepsTheFrameButStaysSuccess) {
    CYbError ok;
    ok.Push(Here("f", 1), "note");
    EXPECT_FALSE(ok.IsError());
    EXPECT_EQ(ok.Trail().size(), 1u);
    EXPECT_EQ(ok.Code(), 0u);
    EXPECT_EQ(ok.ToString(), "success");
}

TEST(Error, ToStringIsOneLineWithCodeMessageAndTrailFromFailureUp) {
    CYbError e = FXErrorUtil::ErrorWin32(Here("CYbError A::Send()", 10), 774, "Failed to send");
    e.Push(Here("CYbError A::Exchange()", 20));
    e.Push(Here("CYbError A::AddTarget()", 30), "target %s", "t1");
    EXPECT_EQ(e.ToString(),
              "error 774 (0x306): Failed to send | at CYbError A::Send():10 <- CYbError A::Exchange():20"
              " <- CYbError A::AddTarget():30 [target t1]");
    EXPECT_EQ(FXErrorUtil::ErrorErrNo(Here("F", 4), 22, "bad id").ToString(), "errno 22 (0x16): bad id | at F:4");
}

TEST(Error, ToStringFlattensLineBreaks) {
    CYbError e = FXErrorUtil::ErrorWin32(Here("F", 1), 183, "two\nlines\r");
    e.Push(Here("G", 2), "and\nmore");
    std::string s = e.ToString();
    EXPECT_EQ(s.find('\n'), std::string::npos);
    EXPECT_EQ(s.find('\r'), std::string::npos);
    EXPECT_EQ(s, "error 183 (0xB7): two lines  | at F:1 <- G:2 [and more]");
}

TEST(Error, MessagesLongerThanAnyBufferAreKeptWhole) {
    const std::string longText(10000, 'x');
    CYbError e = FXErrorUtil::ErrorWin32(Here("F", 1), 774, "<%s|%d>", longText.c_str(), 42);
    EXPECT_EQ(e.Message(), "<" + longText + "|42>");
    e.Push(Here("G", 2), "%s%s", longText.c_str(), longText.c_str());
    EXPECT_EQ(e.Trail().back().text.size(), 2 * longText.size());
    EXPECT_NE(e.ToString().find(longText + "|42>"), std::string::npos);
}

TEST(Error, PeerStatusTravelsWithCopiesAndPushesApartFromTheMessage) {
    CYbError e = FXErrorUtil::ErrorWin32(Here("F", 1), 774, "Failed to add target t1, errNum=%d", 7);
    int32_t number = 0;
    std::string text;
    EXPECT_FALSE(e.PeerStatus(number, text));
    e.SetPeerStatus(7, "target t1 already exists");
    CYbError copy = e;
    copy.Push(Here("G", 2), "outer");
    ASSERT_TRUE(copy.PeerStatus(number, text));
    EXPECT_EQ(number, 7);
    EXPECT_EQ(text, "target t1 already exists");
    EXPECT_EQ(copy.Message(), "Failed to add target t1, errNum=7");

    CYbError success = CYbError::Success();
    EXPECT_FALSE(success.SetPeerStatus(2, "x").PeerStatus(number, text));

    CYbError launch = FXErrorUtil::Make(Here("L", 3), FXErrorSpace::Launch, 78, "did not start");
    EXPECT_TRUE(launch.IsError());
    EXPECT_EQ(launch.Space(), FXErrorSpace::Launch);
    EXPECT_EQ(launch.ToString(), "launch error 78 (0x4E): did not start | at L:3");
}

TEST(Error, MakeTakesAReadyTextWithoutFormatting) {
    CYbError e = FXErrorUtil::Make(Here("F", 1), FXErrorSpace::ErrNo, 111, "100% refused %s");
    EXPECT_TRUE(e.IsError());
    EXPECT_EQ(e.Code(), 111u);
    EXPECT_EQ(e.Message(), "100% refused %s");
}

}  // namespace
