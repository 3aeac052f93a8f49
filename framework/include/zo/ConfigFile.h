// The node's configuration file read strictly, for programs whose own
// settings must never silently fall back to defaults (the framework's own
// reading stays lenient: see docs/CONFIGURATION.md).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zo {

// The configuration file in use: $ZO_CONFIG when set and not empty, else
// /etc/zo/zo.conf.
std::string ConfigFilePath();

// Every key = value of [section] of the file at `path`, in file order. A
// missing file has no entries, unless `mustExist`. False, with a reason that
// names the file (and the line where there is one), when the file cannot be
// read, is malformed (a line without '=', a broken section line, a key or
// section given twice) or holds a key before any section.
bool ReadConfigSectionStrictly(const std::string& path, const std::string& section, bool mustExist,
                               std::vector<std::pair<std::string, std::string>>& entries, std::string& error);

}  // namespace zo
