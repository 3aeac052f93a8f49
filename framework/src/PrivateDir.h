// Folders only the effective user can enter: where sockets and instance
// files live.
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

// The folder part of a path ("." when it has none).
std::string ParentDir(const std::string& path);

}  // namespace zo
