// TgtClaim: one running instance at a time drives a tgtd name space (a
// control port and PREFIX:CLIENT:).
//
// The claim is a file in a host-wide folder (TgtClaimDir), one per control
// port and name space, held with flock(2) for as long as the backend runs;
// the kernel lets go of it however its holder ends, kill -9 included. The
// file names its holder (pid, state folder, name space) and, once the holder
// has ended, the last one, so that a later instance of another state folder
// can tell that the exports in tgtd are not its own.
#pragma once

#include <string>

namespace zoscsi::tgt {

class TgtClaim {
public:
    struct Holder {
        long pid = 0;
        std::string stateFolder;  // empty: nobody recorded
    };

    TgtClaim() = default;
    ~TgtClaim() { Release(); }
    TgtClaim(const TgtClaim&) = delete;
    TgtClaim& operator=(const TgtClaim&) = delete;

    // Takes the claim of `nameSpace` on `controlPort` in `folder` (made 0755
    // when missing; it must belong to this user and be writable by nobody
    // else). False with a reason: the folder is unsafe, or another process
    // holds the claim (the reason names its pid and state folder).
    bool Take(const std::string& folder, int controlPort, const std::string& nameSpace, std::string& error);
    // Who the file named when it was taken (the last holder, who has ended).
    const Holder& previous() const { return m_previous; }
    // Writes this process in as the holder.
    bool Record(const std::string& stateFolder, std::string& error);
    void Release();
    bool held() const { return m_fd >= 0; }

    // The claim file's name in its folder.
    static std::string FileName(int controlPort, const std::string& nameSpace);

private:
    int m_fd = -1;
    std::string m_nameSpace;
    Holder m_previous;
};

}  // namespace zoscsi::tgt
