// LunFiles: the LUNs' backing files in the state folder.
#pragma once

#include <cstdint>
#include <string>

namespace zoscsi::tgt {

// Makes `path` (and its folder, 0700) a fresh sparse file of `sizeBytes`
// rounded up to 512: whatever a file of that name held before is gone, so a
// new LUN never shows an old one's data. Synced, folder included.
bool CreateBackingFile(const std::string& path, uint64_t sizeBytes, std::string& error);

// A regular file (not a link) at `path`.
bool BackingFileExists(const std::string& path);

// Removes the file (gone already is fine) and, when empty, its folder.
bool RemoveBackingFile(const std::string& path, std::string& error);

// Removes `folder` if it is empty or missing; a folder that still holds
// files stays.
void RemoveFolderIfEmpty(const std::string& folder);

}  // namespace zoscsi::tgt
