// StateFolder: the instance's folders, STATE and STATE/<client>, and the lock
// that keeps a second instance away from them.
//
// Whoever can change these folders can plant or edit the live inventory, so
// they are taken only when no other user can: the state root belongs to the
// service's user and no one else can write it (others may read and enter
// it: it holds only client folders); each client folder is private (0700,
// it holds the inventory and the LUN data); and no folder above the root
// lets another user replace it (each belongs to root or the user, and one
// that others can write has the sticky bit, like /tmp).
#pragma once

#include <string>

namespace zoscsi {

// The file that marks a state root initialised on purpose (--init-state).
// With RequireMountedState the root must carry it, so that the empty mount
// point of a disk that is not mounted is never taken for a new node.
constexpr const char* kStateRootMark = ".zoscsisrv-state";

struct StateFolders {
    std::string root;    // the state root as its real, absolute path
    std::string folder;  // root/<client>
};

enum class StateOutcome {
    kReady,
    kUnsafe,           // a folder someone else can change, or one that cannot be made
    kNotInitialised,   // RequireMountedState, and the root is missing or unmarked
};

// Resolves `root` (absolute) to its real path, creates what is missing of it
// (0700) and the client's folder, and checks them as above. With
// `requireMark` nothing is created unless the root exists and carries
// kStateRootMark. Anything but kReady comes with a reason in `error`.
StateOutcome PrepareStateFolders(const std::string& root, const std::string& client, bool requireMark,
                                 StateFolders& folders, std::string& error);

// Creates the state root when it is missing, checks it as above and marks
// it initialised (an existing mark is kept). False with a reason.
bool InitialiseStateRoot(const std::string& root, std::string& error);

enum class LockResult {
    Taken,
    Held,    // another instance holds it
    Failed,  // the lock file cannot be opened or written (a read-only disk, ...)
};

// Holds an exclusive lock on FOLDER/zoscsisrv.lock, which names the holder's
// process id, for as long as the object lives.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Waits up to `waitMillis` for an instance that is going away to let go
    // (a killed process drops its locks only once all its threads are gone);
    // Held with a reason naming the other holder when the lock stays taken.
    LockResult Acquire(const std::string& folder, int waitMillis, std::string& error);

private:
    int m_fd = -1;
};

}  // namespace zoscsi
