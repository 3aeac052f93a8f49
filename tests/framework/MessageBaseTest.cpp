#include "CNMessageBase.h"
#include "CNSession.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr unsigned long kType = 0x4B0000A1;

TEST(MessageBase, NewMessageHasItsTypeAndNoFields) {
    CNMessageBase m(75, 20);
    EXPECT_EQ(m.Group(), 75);
    EXPECT_EQ(m.Id(), 20);
    EXPECT_TRUE(m.Fields().empty());
}

TEST(MessageBase, SessionMessagesFixTheirType) {
    EXPECT_EQ(CNSession::LaunchOnDemandServiceReq().Id(), 60);
    EXPECT_EQ(CNSession::LaunchOnDemandServiceDetails().Id(), 57);
    EXPECT_EQ(CNSession::ValidateODSSessionReq().Id(), 51);
    EXPECT_EQ(CNSession::ValidateODSSessionResp().Id(), 52);
    EXPECT_EQ(CNSession::LaunchOnDemandServiceReq().Group(), 9);
}

TEST(MessageBase, FieldsAreFoundByTypeKeyAndFieldKeyNotByPair) {
    CNMessageBase m(75, 20);
    m.setint64(1, 1, -42, kType, 0x10);
    m.setstring(2, 2, std::string("a\0b", 3), kType, 0x11);
    EXPECT_EQ(m.getint64(7, kType, 0x10), -42) << "the single number does not select";
    EXPECT_EQ(m.getstring(9, 9, kType, 0x11), std::string("a\0b", 3));
    EXPECT_EQ(m.getstringByRef(0, 0, kType, 0x11), std::string("a\0b", 3));
    EXPECT_EQ(m.getint64(1, kType + 1, 0x10), 0) << "another type key is another field";
    const CNField* field = m.FindField(kType, 0x11);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->pairFirst, 2);
    EXPECT_EQ(field->kind, CNFieldKind::String);
}

TEST(MessageBase, WritingAgainReplacesTheValueInPlace) {
    CNMessageBase m(75, 20);
    m.setint64(1, 1, 1, kType, 0x10);
    m.setstring(2, 2, "x", kType, 0x11);
    m.setint64(3, 3, 2, kType, 0x10);
    ASSERT_EQ(m.Fields().size(), 2u);
    EXPECT_EQ(m.Fields()[0].i64, 2);
    EXPECT_EQ(m.Fields()[0].pairFirst, 3);
    m.setstring(1, 1, "now a string", kType, 0x10);
    EXPECT_EQ(m.getint64(1, kType, 0x10), 0) << "a field takes the kind last written";
    EXPECT_EQ(m.getstring(1, 1, kType, 0x10), "now a string");
}

TEST(MessageBase, AbsentFieldsReadAsDefaults) {
    CNMessageBase m(75, 20);
    EXPECT_EQ(m.getint64(1, kType, 1), 0);
    EXPECT_EQ(m.getstring(1, 1, kType, 1), "");
    EXPECT_EQ(m.getstringByRef(1, 1, kType, 1), "");
    EXPECT_EQ(m.getliststring(1, 1, kType, 1, false), nullptr);
    EXPECT_EQ(m.getObjectAccessor(true, false, 1, 1, kType, 1, 75, 16), nullptr);
    EXPECT_EQ(m.FindField(kType, 1), nullptr);
    EXPECT_TRUE(m.Fields().empty()) << "reading creates nothing";
}

TEST(MessageBase, ReadingAFieldOfAnotherKindGivesTheDefault) {
    CNMessageBase m(75, 20);
    m.setstring(1, 1, "text", kType, 1);
    EXPECT_EQ(m.getint64(1, kType, 1), 0);
    EXPECT_EQ(m.getliststring(1, 1, kType, 1, false), nullptr);
    EXPECT_EQ(m.getObjectAccessor(true, false, 1, 1, kType, 1, 75, 16), nullptr);
}

TEST(MessageBase, ObjectAccessorCreatesOnceAndReturnsTheSameObject) {
    CNMessageBase m(75, 20);
    CNMessageBase* first = m.getObjectAccessor(true, true, 1, 1, kType, 0x16, 75, 16);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Group(), 75);
    EXPECT_EQ(first->Id(), 16);
    first->setint64(1, 1, 5, 0x4B000010, 1);
    m.setstring(2, 2, "grow the field vector", kType, 0x17);
    m.setstring(3, 3, "and again", kType, 0x18);
    CNMessageBase* again = m.getObjectAccessor(true, true, 1, 1, kType, 0x16, 75, 16);
    EXPECT_EQ(again, first) << "nested objects never move";
    EXPECT_EQ(m.getObjectAccessor(true, false, 1, 1, kType, 0x16, 0, 0), first);
    EXPECT_EQ(again->getint64(1, 0x4B000010, 1), 5);
}

TEST(MessageBase, StringListsAreReachedWithoutACopy) {
    CNMessageBase m(75, 20);
    m.setliststring(1, 1, {"a", "b"}, kType, 1);
    std::vector<std::string>* list = m.getliststring(1, 1, kType, 1, false);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(*list, (std::vector<std::string>{"a", "b"}));
    list->push_back("c");
    EXPECT_EQ(m.FindField(kType, 1)->list.size(), 3u);
    std::vector<std::string>* made = m.getliststring(2, 2, kType, 2, true);
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->empty());
    EXPECT_EQ(m.FindField(kType, 2)->kind, CNFieldKind::StringList);
}

TEST(MessageBase, LiveCountFollowsConstructionAndDestruction) {
    const long before = CNMessageBase::LiveCount();
    {
        CNMessageBase m(75, 20);
        m.getObjectAccessor(true, true, 1, 1, kType, 1, 75, 16);
        auto derived = std::make_unique<CNSession::LaunchOnDemandServiceReq>();
        EXPECT_EQ(CNMessageBase::LiveCount(), before + 3);
        std::unique_ptr<CNMessageBase> asBase = std::move(derived);
    }
    EXPECT_EQ(CNMessageBase::LiveCount(), before) << "nested objects are released with their message";
}

}  // namespace
