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
    kExitTimeout = 6,          // a send or receive timed out
    kExitUnreachable = 7,      // the service could not be launched or reached
    kExitBusy = 8,             // refused while in use (a mapped LUN, a target with LUNs)
};

// Where a failure happened: reaching the service, or in an operation on it.
enum class Stage { Connect, Operation };

// The service's error number carried in a library message ("..., errNum=N,
// errString=..."), when there is one.
std::optional<int> ServiceErrorNumber(const std::string& message);

ExitCode ClassifyError(const CYbError& error, Stage stage);

// Short stable word for an exit code, used in the JSON error object.
const char* ExitKind(ExitCode code);

}  // namespace zoctl
