// Files that hold a service's secrets: the session identifier of a service
// run by hand (read from a file so that it never appears in the process
// list) and the private key of its TLS certificate.
#pragma once

#include <string>

namespace zoscsi {

// Reads the session identifier from `path`. The file must be a regular file
// owned by `ownerUid` that neither group nor others may read or write; it
// holds one line of at most 4096 printable bytes (a final line break and
// blanks around the value are dropped). False with a reason that names the
// file and the check that failed.
bool ReadSessionFile(const std::string& path, unsigned ownerUid, std::string& session, std::string& error);

// A private key file must be a regular file owned by `ownerUid` or root that
// others may neither read nor write and its group may not write (the group
// may read it, as Debian's ssl-cert group does). False with a reason that names the file and the check.
bool CheckKeyFile(const std::string& path, unsigned ownerUid, std::string& error);

}  // namespace zoscsi
