// DurableFile: small files the service writes once and must find again after
// a crash or a power cut (the marks of a state root and of an inventory).
#pragma once

#include <string>

namespace zoscsi {

// Flushes `folder` itself, so that an entry made or removed in it lasts; a
// folder that cannot be opened is passed over.
void SyncFolder(const std::string& folder);

// Writes `text` to `path` (mode 0600, never through a link), flushes it and
// then its folder. `create` is O_EXCL (a file already there is an error) or
// O_TRUNC (it is overwritten). False with "cannot write PATH: reason".
bool WriteDurableFile(const std::string& path, const std::string& text, int create, std::string& error);

}  // namespace zoscsi
