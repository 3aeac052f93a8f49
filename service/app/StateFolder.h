// StateFolder: the instance's folder STATE/<client> and the lock that keeps
// a second instance away from it.
#pragma once

#include <string>

namespace zoscsi {

// Creates `path` and its missing parents (0700). The last component must be
// a real folder, not a link. False with a reason.
bool MakeStateFolder(const std::string& path, std::string& error);

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
    // false with a reason (naming the other holder) when the lock stays taken.
    bool Acquire(const std::string& folder, int waitMillis, std::string& error);

private:
    int m_fd = -1;
};

}  // namespace zoscsi
