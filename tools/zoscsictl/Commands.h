// The table of zoscsictl's commands: each row names a command, the
// arguments it takes, its help text and examples, and the function that
// runs it on a connected client. Adding a command is one row and one
// function of a few lines.
#pragma once

#include "Outcome.h"
#include "ZoScsiSrvClient.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zoctl {

// Every argument a command can take. A row lists the ones it uses; the
// command-line binding (CliApp.cpp) knows how to declare each.
enum class Param {
    Target,        // positional TARGET
    Name,          // positional NAME (a new target)
    Lun,           // positional LUN
    Id,            // positional ID (the same value as LUN)
    Host,          // positional HOST
    From,          // positional FROM (host)
    To,            // positional TO (host)
    Command,       // positional CMD (reload word)
    Params,        // --params TEXT
    Size,          // --size SIZE
    Setting,       // --setting N
    Options,       // --options TEXT
    Validate,      // --validate
    TargetFilter,  // --target T
    HostFilter,    // --host H
    Long,          // -l, --long
    Force,         // --force
};

// How a command reaches the service before it runs.
enum class Reach {
    Launch,       // the running instance, or one the launcher starts
    RunningOnly,  // the running instance only; none running is "down"
    Restart,      // stop the running instance (verified), then launch afresh
};

// The values of one command line. `given` says which options were present.
struct Args {
    std::string client;  // resolved before the command runs
    std::string target, name, host, from, to, command;
    std::string params, size, options, targetFilter, hostFilter;
    int32_t lun = 0;
    uint32_t setting = 0;
    bool validate = false;
    bool longListing = false;
    bool json = false;  // the global --json: listings then carry every detail
    bool force = false;
    long long stoppedPid = 0;  // restart: the instance stopped before the launch, 0 when none ran
    std::vector<Param> given;

    bool Given(Param p) const;
};

struct CommandRow {
    const char* path;     // "lun create": words of the command, also its name in --json documents
    const char* summary;  // one line for the command list
    std::vector<Param> params;
    const char* examples;
    Outcome (*run)(ZoScsiSrvClient& client, const Args& args);
    std::vector<const char*> aliases = {};  // further words that run the same command ("targets")
    Reach reach = Reach::Launch;
};

const std::vector<CommandRow>& CommandTable();

// Target names are case-insensitive: the library sends them lower-cased and
// the service stores them so; confirmations and filters show that form.
std::string Lower(std::string text);

// The outcome of `status` when no instance runs for the client.
Outcome DownOutcome(const std::string& clientName);

}  // namespace zoctl
