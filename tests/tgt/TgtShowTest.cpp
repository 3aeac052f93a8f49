// tgtadm's show answers, as tgt 1.0.85 writes them, read into records; and
// what is not such an answer refused rather than taken for "no targets".
#include "backend/tgt/TgtShow.h"
#include "TgtShowSamples.h"

#include <gtest/gtest.h>

using namespace zoscsi::tgt;

TEST(TgtShow, ReadsTargetsLunsSessionsAndRules) {
    std::vector<TgtTargetState> targets;
    std::string error;
    ASSERT_TRUE(ParseTargets(kShowTwoTargets, targets, error)) << error;
    ASSERT_EQ(targets.size(), 2u);

    const TgtTargetState& first = targets[0];
    EXPECT_EQ(first.tid, 3);
    EXPECT_EQ(first.name, "iqn.2026-12.local.zo:t.all");
    ASSERT_EQ(first.luns.size(), 3u);
    EXPECT_EQ(first.luns[0].lun, 0);
    EXPECT_EQ(first.luns[0].path, "None");
    EXPECT_EQ(first.luns[2].lun, 2);
    EXPECT_EQ(first.luns[2].path, "/tmp/tgt exp/b.img");
    EXPECT_EQ(first.luns[1].serial, "beaf31");
    ASSERT_EQ(first.nexuses.size(), 1u);
    EXPECT_EQ(first.nexuses[0].sid, 6);
    EXPECT_EQ(first.nexuses[0].initiator, "iqn.a");
    EXPECT_EQ(first.nexuses[0].connections, std::vector<int>({0, 1}));
    EXPECT_EQ(first.acls, std::vector<std::string>({"127.0.0.1", "ALL"}));

    const TgtTargetState& second = targets[1];
    EXPECT_EQ(second.tid, 12);
    EXPECT_TRUE(second.acls.empty());
    EXPECT_TRUE(second.nexuses.empty());
    ASSERT_EQ(second.luns.size(), 1u);
}

TEST(TgtShow, NoTargetsIsAnEmptyAnswer) {
    std::vector<TgtTargetState> targets{TgtTargetState{}};
    std::string error;
    EXPECT_TRUE(ParseTargets("", targets, error));
    EXPECT_TRUE(targets.empty());
}

TEST(TgtShow, RefusesWhatIsNotATargetList) {
    const char* cases[] = {
        "garbage\n",
        "    LUN information:\n",                              // no target first
        "Target x: iqn.a\n",                                   // tid not a number
        "Target 0: iqn.a\n",                                   // tid 0 does not exist
        "Target 1:\n",                                         // no name
        "Target 1: iqn.a\n    LUN information:\n        LUN: one\n",
        "Target 1: iqn.a\n    I_T nexus information:\n        I_T nexus: 2\n            Connection: x\n",
        "Target 1: iqn.a\n    LUN information:\n            Backing store path: /x\n",  // path before any LUN
        "Target 1: iqn.a\n    ACL information:\n            deep\n",
        "Target 1: iqn.a\x01\n",
        "tgtadm: failed to send request hdr to tgt daemon\n",
    };
    for (const char* text : cases) {
        std::vector<TgtTargetState> targets;
        std::string error;
        EXPECT_FALSE(ParseTargets(text, targets, error)) << text;
        EXPECT_TRUE(targets.empty());
        EXPECT_FALSE(error.empty());
    }
}

TEST(TgtShow, ReadsPortalsWithoutTheirGroupTag) {
    std::vector<std::string> portals;
    std::string error;
    ASSERT_TRUE(ParsePortals("Portal: 127.0.0.1:13261,1\nPortal: [::]:3260,1\n", portals, error)) << error;
    EXPECT_EQ(portals, std::vector<std::string>({"127.0.0.1:13261", "[::]:3260"}));
    EXPECT_FALSE(ParsePortals("Portals are\n", portals, error));
    EXPECT_TRUE(portals.empty());
}
