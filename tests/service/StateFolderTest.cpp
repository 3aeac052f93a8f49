// One instance per state folder.
#include "TempFolder.h"
#include "app/StateFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace zoscsi;

TEST(StateFolder, IsMadeWithItsParentsPrivate) {
    TempFolder root;
    std::string error;
    ASSERT_TRUE(MakeStateFolder(root / "a/b/node1", error)) << error;
    struct stat info {};
    ASSERT_EQ(stat((root / "a/b/node1").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(MakeStateFolder(root / "a/b/node1", error)) << "an existing folder is fine";
    ASSERT_EQ(symlink((root / "a").c_str(), (root / "link").c_str()), 0);
    EXPECT_FALSE(MakeStateFolder(root / "link", error));
}

TEST(InstanceLock, ASecondInstanceIsRefusedWithTheHolder) {
    TempFolder root;
    std::string error;
    auto first = std::make_unique<InstanceLock>();
    ASSERT_TRUE(first->Acquire(root.path(), 0, error)) << error;
    InstanceLock second;
    EXPECT_FALSE(second.Acquire(root.path(), 60, error));
    EXPECT_NE(error.find("pid " + std::to_string(getpid())), std::string::npos) << error;
    first.reset();
    InstanceLock third;
    EXPECT_TRUE(third.Acquire(root.path(), 0, error)) << error;
}
