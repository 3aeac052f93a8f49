// Names: what the service accepts as target names, host names, free texts,
// LUN ids and sizes. Every value a client sends passes one of these before
// it is stored, so no record can break a listing line or a backend's
// argument vector.
#pragma once

#include "common/ServiceStatus.h"

#include <cstdint>
#include <string>

namespace zoscsi {

constexpr size_t kMaxNameBytes = 223;     // target and host names
constexpr size_t kMaxTextBytes = 4096;    // target parameters, option texts, command arguments
constexpr int32_t kMaxLunId = 16383;      // LUN ids are 1..16383 in a target; 0 stays free
constexpr int kMaxHostsPerLun = 256;

// Lower case letters, digits, '.', '-', ':'; starts with a letter or digit;
// 1..223 bytes.
ServiceStatus CheckTargetName(const std::string& name);

// A target name as it is stored: ASCII letters in lower case, as the client
// sends names; so a filter finds a target whatever the case it is given in.
std::string FoldTargetName(std::string name);

// 1..223 bytes of valid UTF-8; no blank, control character (below 0x20,
// 0x7F), '#' or leading '-'. Kept byte for byte as sent (case too).
ServiceStatus CheckHostName(const std::string& name);

// The same but for UTF-8: what an inventory written before that rule may
// hold, so that such a mapping can still be removed by its exact bytes.
ServiceStatus CheckStoredHostName(const std::string& name);

// Free text (`what` names it in the error): at most kMaxTextBytes, no '#',
// no control character (line breaks and tabs included).
ServiceStatus CheckText(const char* what, const std::string& text);

// 1..kMaxLunId.
ServiceStatus CheckLunId(int64_t id);

// A size: decimal bytes, or with a K, M, G or T suffix (either case; powers
// of 1024). The result must be a positive multiple of 512 and at most
// `maxBytes`.
ServiceStatus ParseSize(const std::string& text, uint64_t maxBytes, uint64_t& bytes);

// A yes/no setting: 1, true, yes, on or 0, false, no, off.
bool ParseFlag(const std::string& text, bool& value);

// The service's name for a LUN.
std::string LunName(const std::string& target, int32_t id);

}  // namespace zoscsi
