// Folders that no other user can change: where instances keep their sockets,
// their files and their state.
#pragma once

#include <string>

namespace zo {

// Makes `path` a private folder: creates it and any missing parent with mode
// 0700, or accepts an existing one only when it is a real directory (not a
// symbolic link) owned by the effective user with no access for group or
// others. Returns 0, or an errno with the reason in `error` (EACCES for a
// folder that is not private); an existing folder is never re-moded, so a
// wrong one is refused rather than silently repaired.
int EnsurePrivateDir(const std::string& path, std::string& error);

// Accepts an existing folder that no other user can change: a real directory
// owned by the effective user that group and others cannot write (they may
// read and enter it). A group write bit is harmless, and accepted, when the
// group is the user's own private group (named like the user, no other
// members), as a umask of 002 leaves it. Returns 0 or an errno (EACCES when
// someone else could change it) with the reason in `error`.
int CheckOwnedDir(const std::string& path, std::string& error);

// Accepts `path` when no other user can replace it: every folder from "/"
// down to its parent belongs to root or the effective user, and one that
// others can write has the sticky bit (as /tmp has), so that they cannot
// rename or remove entries that are not theirs. `path` must be absolute and
// canonical (no symbolic links, "." or ".." in it). Returns 0 or an errno
// (EACCES) with the folder at fault in `error`.
int CheckSafeParents(const std::string& path, std::string& error);

}  // namespace zo
