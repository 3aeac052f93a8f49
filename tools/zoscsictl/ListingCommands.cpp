#include "ListingCommands.h"

#include "DetailedListing.h"
#include "FXErrorUtil.h"
#include "Output.h"

#include <algorithm>
#include <cerrno>

namespace zoctl {

namespace {

using LunInfo = ZoScsiSrvClient::LunInfo;

#define ZOCTL_HERE(command) FXCodeLocation("zoscsictl", "zoscsictl " command, __LINE__)

// One filter: the single-filter listings; both: the filtered listing.
CYbError ListFiltered(ZoScsiSrvClient& client, const std::string& target, bool byTarget, const std::string& host,
                      bool byHost, std::vector<LunInfo>& luns) {
    if (byTarget && byHost) return client.ListLuns(luns, target, host);
    if (byTarget) return client.ListLunsByTarget(target, luns);
    if (byHost) return client.ListLunsByHost(host, luns);
    return client.ListLuns(luns, "", "");
}

// The service lists an unknown target as an empty one; a listing of no LUNs
// for a target that is not there says so instead.
CYbError CheckTargetExists(ZoScsiSrvClient& client, const std::string& target) {
    std::vector<std::string> targets;
    const CYbError error = client.ListTargets("lt", targets);
    if (error.IsError() || std::find(targets.begin(), targets.end(), target) != targets.end()) return error;
    return FXErrorUtil::ErrorErrNo(ZOCTL_HERE("ls"), ENOENT, "no such target '%s'", target.c_str());
}

}  // namespace

Outcome RunLs(ZoScsiSrvClient& client, const Args& a) {
    const bool byTarget = a.Given(Param::TargetFilter);
    const bool byHost = a.Given(Param::HostFilter);
    const std::string target = Lower(a.targetFilter);
    // An empty value would silently mean "all" (or be refused without a word
    // on which filter it was).
    if ((byTarget && target.empty()) || (byHost && a.hostFilter.empty()))
        return Outcome::Failed(FXErrorUtil::ErrorErrNo(ZOCTL_HERE("ls"), EINVAL, "Empty %s filter",
                                                       byTarget && target.empty() ? "target" : "host"));
    const bool detailed = a.longListing || a.json;
    std::vector<LunInfo> luns;
    std::vector<LunDetail> details;
    const CYbError error = detailed ? ListLunDetails(client, a.client, target, a.hostFilter, details)
                                    : ListFiltered(client, target, byTarget, a.hostFilter, byHost, luns);
    if (error.IsError()) return Outcome::Failed(error);
    const bool empty = detailed ? details.empty() : luns.empty();
    if (empty && byTarget) {
        const CYbError missing = CheckTargetExists(client, target);
        if (missing.IsError()) return Outcome::Failed(missing);
    }

    Outcome outcome;
    if (empty) outcome.lines.push_back("no LUNs");
    else outcome.table = detailed ? LunDetailTable(details) : LunTable(luns);
    outcome.result["filter"] = {{"target", byTarget ? Json(target) : Json()},
                                {"host", byHost ? Json(a.hostFilter) : Json()}};
    outcome.result["luns"] = LunDetailArray(details);
    return outcome;
}

Outcome RunTargets(ZoScsiSrvClient& client, const Args&) {
    std::vector<TargetDetail> targets;
    const CYbError error = ListTargetDetails(client, targets);
    if (error.IsError()) return Outcome::Failed(error);
    Outcome outcome;
    if (targets.empty()) outcome.lines.push_back("no targets");
    else outcome.table = TargetTable(targets);
    outcome.result["targets"] = TargetArray(targets);
    return outcome;
}

}  // namespace zoctl
