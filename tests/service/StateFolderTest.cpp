// The state root and the client folders: made private, taken only when no
// other user can change them, and (when asked) only on a root marked as
// initialised; one instance per state folder.
#include "TempFolder.h"
#include "app/StateFolder.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>

using namespace zoscsi;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

StateOutcome Prepare(const std::string& root, std::string& error, bool requireMark = false) {
    StateFolders folders;
    return PrepareStateFolders(root, "node1", requireMark, folders, error);
}

}  // namespace

TEST(StateFolder, IsMadeWithItsParentsPrivateAndResolvedToItsRealPath) {
    TempFolder base;
    std::string error;
    StateFolders folders;
    ASSERT_EQ(PrepareStateFolders(base / "a/b", "node1", false, folders, error), StateOutcome::kReady) << error;
    for (const char* made : {"a", "a/b", "a/b/node1"}) EXPECT_EQ(ModeOf(base / made), 0700u) << made;
    EXPECT_EQ(PrepareStateFolders(base / "a/b", "node1", false, folders, error), StateOutcome::kReady)
        << "an existing folder is fine: " << error;

    ASSERT_EQ(symlink((base / "a/b").c_str(), (base / "link").c_str()), 0);
    ASSERT_EQ(PrepareStateFolders(base / "link/", "node1", false, folders, error), StateOutcome::kReady) << error;
    char* real = realpath((base / "a/b").c_str(), nullptr);
    EXPECT_EQ(folders.root, real) << "a link is resolved once, at the start";
    EXPECT_EQ(folders.folder, std::string(real) + "/node1");
    free(real);
}

TEST(StateFolder, FoldersAnotherUserCouldChangeAreRefusedAndLeftAsTheyAre) {
    const passwd* nobody = getpwnam("nobody");
    const bool root = geteuid() == 0 && nobody;
    struct Case {
        const char* what;
        bool needsRoot;
        std::function<void(const TempFolder&)> arrange;  // the root is base/p/state
        const char* refusal;                             // null: accepted
        const char* untouched;                           // a folder whose mode must stay as arranged
    };
    const Case cases[] = {
        {"a root others may read and enter", false, [](const TempFolder& b) { chmod((b / "p/state").c_str(), 0755); },
         nullptr, "p/state"},
        {"a root others may write", false, [](const TempFolder& b) { chmod((b / "p/state").c_str(), 0757); },
         "can be written by other users", "p/state"},
        {"a client folder others may enter", false,
         [](const TempFolder& b) { chmod((b / "p/state/node1").c_str(), 0711); }, "open to other users",
         "p/state/node1"},
        {"a client folder that is a link", false,
         [](const TempFolder& b) {
             rmdir((b / "p/state/node1").c_str());
             (void)symlink((b / "p").c_str(), (b / "p/state/node1").c_str());
         },
         "is not a directory", nullptr},
        {"a parent others may write, without the sticky bit", false,
         [](const TempFolder& b) { chmod((b / "p").c_str(), 0777); }, "without the sticky bit", "p"},
        {"a parent others may write, with the sticky bit", false,
         [](const TempFolder& b) { chmod((b / "p").c_str(), 01777); }, nullptr, "p"},
        {"a root of another user", true,
         [nobody](const TempFolder& b) { (void)chown((b / "p/state").c_str(), nobody->pw_uid, nobody->pw_gid); },
         "belongs to uid", nullptr},
        {"a client folder of another user", true,
         [nobody](const TempFolder& b) {
             (void)chown((b / "p/state/node1").c_str(), nobody->pw_uid, nobody->pw_gid);
         },
         "belongs to uid", nullptr},
        {"a parent of another user", true,
         [nobody](const TempFolder& b) { (void)chown((b / "p").c_str(), nobody->pw_uid, nobody->pw_gid); },
         "belongs to uid", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && !root) continue;
        TempFolder base;
        std::string error;
        ASSERT_EQ(Prepare(base / "p/state", error), StateOutcome::kReady) << error;
        c.arrange(base);
        const mode_t before = c.untouched ? ModeOf(base / c.untouched) : 0;
        const StateOutcome outcome = Prepare(base / "p/state", error);
        if (c.refusal) {
            EXPECT_EQ(outcome, StateOutcome::kUnsafe);
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
        } else {
            EXPECT_EQ(outcome, StateOutcome::kReady) << error;
        }
        if (c.untouched) {
            EXPECT_EQ(ModeOf(base / c.untouched), before) << "never repaired silently";
        }
        chmod((base / "p").c_str(), 0700);  // so that the folder can be removed
    }
}

TEST(StateFolder, WhenAskedOnlyARootMarkedAsInitialisedIsTaken) {
    TempFolder base;
    std::string error;
    // A disk that is not mounted: its mount point is there, empty, or missing.
    EXPECT_EQ(Prepare(base / "missing", error, true), StateOutcome::kNotInitialised);
    EXPECT_NE(error.find("mounted"), std::string::npos) << error;
    EXPECT_NE(access((base / "missing").c_str(), F_OK), 0) << "nothing is created in its place";
    ASSERT_EQ(mkdir((base / "mnt").c_str(), 0700), 0);
    EXPECT_EQ(Prepare(base / "mnt", error, true), StateOutcome::kNotInitialised);
    EXPECT_NE(access((base / "mnt/node1").c_str(), F_OK), 0);

    ASSERT_TRUE(InitialiseStateRoot(base / "mnt", error)) << error;
    ASSERT_TRUE(InitialiseStateRoot(base / "mnt", error)) << "again: the mark is kept; " << error;
    EXPECT_EQ(Prepare(base / "mnt", error, true), StateOutcome::kReady) << error;
    EXPECT_EQ(ModeOf(base / "mnt/node1"), 0700u) << "a new client on a marked root starts empty";
}

TEST(InstanceLock, ASecondInstanceIsRefusedWithTheHolderAndAnUnwritableFolderIsNoHolder) {
    TempFolder root;
    std::string error;
    auto first = std::make_unique<InstanceLock>();
    ASSERT_EQ(first->Acquire(root.path(), 0, error), LockResult::Taken) << error;
    InstanceLock second;
    EXPECT_EQ(second.Acquire(root.path(), 60, error), LockResult::Held);
    EXPECT_NE(error.find("pid " + std::to_string(getpid())), std::string::npos) << error;
    first.reset();
    InstanceLock third;
    EXPECT_EQ(third.Acquire(root.path(), 0, error), LockResult::Taken) << error;
    InstanceLock nowhere;
    EXPECT_EQ(nowhere.Acquire(root / "missing", 0, error), LockResult::Failed);
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}
