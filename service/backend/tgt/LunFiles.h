// LunFiles: the LUNs' backing files in the state folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zoscsi::tgt {

// Makes `path` (and its folder, 0700) a fresh sparse file of `sizeBytes`
// rounded up to 512: whatever a file of that name held before is gone, so a
// new LUN never shows an old one's data. Synced, folder included.
bool CreateBackingFile(const std::string& path, uint64_t sizeBytes, std::string& error);

// A regular file (not a link) at `path`.
bool BackingFileExists(const std::string& path);

// Removes the file (gone already is fine) and, when empty, its folder.
bool RemoveBackingFile(const std::string& path, std::string& error);

// A deleted LUN's file is first only renamed to its retired name (the path
// and ".deleted"), so that a deletion that never commits in the inventory
// can give the data back. Gone already is fine.
bool RetireBackingFile(const std::string& path, std::string& error);

// Settles the retired file of `livePath`: with `keep` (its LUN is still in
// the inventory) it is put back unless a live file is there already;
// otherwise it is removed.
void SettleRetiredFile(const std::string& livePath, bool keep);

// The live paths of the retired files in the target folders of `lunDir`.
std::vector<std::string> RetiredFiles(const std::string& lunDir);

// Removes `folder` if it is empty or missing; a folder that still holds
// files stays.
void RemoveFolderIfEmpty(const std::string& folder);

}  // namespace zoscsi::tgt
