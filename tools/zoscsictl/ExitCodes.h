// Exit codes of zoscsictl (docs/CLI.md) and how a failure maps onto them.
#pragma once

#include "CYbError.h"

#include <optional>
#include <string>

namespace zoctl {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,          // any failure not listed below
    kExitUsage = 2,            // the command line could not be parsed
    kExitNotFound = 3,         // target, LUN or mapping does not exist
    kExitAlreadyExists = 4,    // target, LUN or mapping exists already
    kExitInvalidArgument = 5,  // the service or the library refused a value
    kExitTimeout = 6,          // a send or receive timed out, or the whole command ran past --timeout
    kExitUnreachable = 7,      // the service could not be launched or reached; status: it is down
    kExitBusy = 8,             // refused while in use (a mapped LUN, a target with LUNs), or every
                               // connection of the running instance stayed taken
};

// Where a failure happened: reaching the service, or in an operation on it.
enum class Stage { Connect, Operation };

// The service's error number and text behind a failure, read from the
// typed error (ZoScsiSrvClient::GetServiceError), when the service refused.
struct ServiceRefusal {
    int number = 0;
    std::string text;
};
std::optional<ServiceRefusal> ServiceErrorOf(const CYbError& error);

ExitCode ClassifyError(const CYbError& error, Stage stage);

// Short stable word for an exit code, used in the JSON error object.
const char* ExitKind(ExitCode code);

}  // namespace zoctl
