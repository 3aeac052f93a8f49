// The listing commands of the command table: ls and target ls.
#pragma once

#include "Commands.h"

namespace zoctl {

// LUNs, all or filtered by target and/or host: through the library's
// filtered listings, or with -l and --json through the detailed listing.
Outcome RunLs(ZoScsiSrvClient& client, const Args& args);
// Targets with their counts of LUNs and mappings.
Outcome RunTargets(ZoScsiSrvClient& client, const Args& args);

}  // namespace zoctl
