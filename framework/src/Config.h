// The configuration file: one INI file read with Boost.PropertyTree.
// Internal to the framework (the launcher reads [OnDemandServices] through it,
// ZOPlatformInfo and the default log writer read single keys).
//
// Path: $ZO_CONFIG when set and not empty, else /etc/zo/zo.conf.
// Every call reads the file anew. A missing or unreadable file reads as
// empty; a malformed one reads as empty and is reported on the log once per
// (path, size, mtime), so a fixed file is read again without a restart.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <string>
#include <utility>
#include <vector>

namespace zo {

constexpr const char* kDefaultConfigPath = "/etc/zo/zo.conf";

// The configuration file in use.
std::string ConfigPath();

// The whole file: one child per [section], one grandchild per key. Keys are
// kept as written (a '.' in a key is no path separator); use ConfigValue or
// ConfigSection rather than ptree paths. When the file is malformed (it then
// reads as empty) and `malformed` is not null, it gets the reason.
boost::property_tree::ptree ReadConfig(std::string* malformed = nullptr);

// The same for a given file (tests, tools). `error` (when not null) gets the
// reason when the file is malformed; nothing is logged.
boost::property_tree::ptree ReadConfigFile(const std::string& path, std::string* error);

// [section] key of an already read tree. True when present, with the value.
bool ConfigValue(const boost::property_tree::ptree& config, const std::string& section,
                 const std::string& key, std::string& value);

// [section] key of the configuration file (reads it).
bool ConfigValue(const std::string& section, const std::string& key, std::string& value);

// Every key = value of [section], in file order; empty when the section is absent.
std::vector<std::pair<std::string, std::string>> ConfigSection(const boost::property_tree::ptree& config,
                                                               const std::string& section);
std::vector<std::pair<std::string, std::string>> ConfigSection(const std::string& section);

}  // namespace zo
