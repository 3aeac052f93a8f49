// What a launch produced, written into the launch details by one function.
#pragma once

#include "CNSession.h"

#include <string>

namespace zo {

struct LaunchOutcome {
    long long errorNumber = 0;  // 0: running; else an errno of the start or the program's exit status
    std::string sessionId;
    std::string serviceName;
    std::string endpoint;
    long long processId = 0;    // 0 when not a local process
};

void WriteLaunchDetails(const LaunchOutcome& outcome, CNSession::LaunchOnDemandServiceDetails& details);

// The endpoint and session of filled details ("" when absent).
std::string DetailsEndpoint(const CNSession::LaunchOnDemandServiceDetails& details);
std::string DetailsSessionId(const CNSession::LaunchOnDemandServiceDetails& details);

}  // namespace zo
