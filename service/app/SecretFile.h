// SessionFile: the session identifier of a service run by hand, read from a
// file so that it never appears in the process list.
#pragma once

#include <string>

namespace zoscsi {

// Reads the session identifier from `path`. The file must be a regular file
// owned by `ownerUid` that neither group nor others may read or write; it
// holds one line of at most 4096 printable bytes (a final line break and
// blanks around the value are dropped). False with a reason that names the
// file and the check that failed.
bool ReadSessionFile(const std::string& path, unsigned ownerUid, std::string& session, std::string& error);

}  // namespace zoscsi
