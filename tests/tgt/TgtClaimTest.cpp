// The claim of a tgtd name space: one holder at a time, named to whoever
// is refused; the last holder is remembered once it has let go; a folder
// others could write in is refused.
#include "backend/tgt/TgtClaim.h"
#include "service/TempFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using zoscsi::tgt::TgtClaim;

TEST(TgtClaim, OneHolderAtATimeNamedToTheOthersAndRememberedAfterwards) {
    TempFolder root;
    const std::string folder = root / "claims";
    const std::string ns = "iqn.2026-12.local.zo:alpha:";
    std::string error;
    TgtClaim first, second;
    ASSERT_TRUE(first.Take(folder, 3260, ns, error)) << error;
    EXPECT_TRUE(first.previous().stateFolder.empty());
    ASSERT_TRUE(first.Record("/state/one/alpha", error)) << error;

    EXPECT_FALSE(second.Take(folder, 3260, ns, error));
    EXPECT_NE(error.find("pid " + std::to_string(::getpid())), std::string::npos) << error;
    EXPECT_NE(error.find("state folder /state/one/alpha"), std::string::npos) << error;
    EXPECT_TRUE(second.Take(folder, 3261, ns, error)) << "another control port is another name space: " << error;
    EXPECT_TRUE(second.Take(folder, 3260, "iqn.2026-12.local.zo:beta:", error)) << error;

    first.Release();  // as its process ending would
    ASSERT_TRUE(second.Take(folder, 3260, ns, error)) << error;
    EXPECT_EQ(second.previous().stateFolder, "/state/one/alpha");
    EXPECT_EQ(second.previous().pid, ::getpid());
}

TEST(TgtClaim, AFolderOthersCanWriteInIsRefused) {
    TempFolder root;
    const std::string folder = root / "open";
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    TgtClaim claim;
    std::string error;
    EXPECT_FALSE(claim.Take(folder, 3260, "iqn.x:a:", error));
    EXPECT_NE(error.find("TgtClaimDir"), std::string::npos) << error;
}
