// InstanceIdentity: what a launched instance serves, and the settings that
// decided it.
//
// One instance serves one (service, client name) pair, but what it serves
// may also depend on the caller's settings (a service's state folder, its
// backend). A service records those settings, as it read them, in its
// instance folder before it reports ready. Before the launcher hands a live
// instance to a caller it reads each recorded setting as that caller sees it
// (its environment, its configuration file, the registry's program line) and
// refuses the instance when one differs, naming both values: a caller is
// never served from state its settings do not name. A service that records
// nothing is handed to every caller.
#pragma once

#include "LaunchContext.h"

#include <string>
#include <vector>

namespace zo {

struct InstanceIdentity {
    struct Input {
        bool setting = false;  // false: an environment variable; true: a configuration key
        std::string section;   // of a configuration key
        std::string name;      // the variable or the key
        bool present = false;  // false: unset or absent
        std::string value;
    };

    std::string serves;                  // in words, for messages: "state folder /x/c, backend tgt"
    std::vector<std::string> arguments;  // the program line as started (argv); empty: not compared
    std::vector<Input> inputs;

    void AddEnvironment(const std::string& name, const char* value);  // null: unset
    void AddSetting(const std::string& section, const std::string& key, bool present, const std::string& value);
};

// One line per item; every byte that could break a line or a field is
// written as %XX.
std::string EncodeIdentity(const InstanceIdentity& identity);
// False for text that EncodeIdentity could not have written.
bool DecodeIdentity(const std::string& text, InstanceIdentity& identity);

// Writes the identity file into the instance folder of a launched program
// (does nothing for one started by hand). 0, or an errno with the reason.
int RecordInstanceIdentity(const LaunchContext& context, const InstanceIdentity& identity, std::string& error);

}  // namespace zo
