// TgtApply: reads tgtd's state and carries a plan (TgtPlan.h) out on it,
// one request at a time or several at once.
#pragma once

#include "backend/tgt/TgtAdm.h"
#include "backend/tgt/TgtShow.h"

#include <functional>
#include <string>
#include <vector>

namespace zoscsi::tgt {

// `--mode target --op show`, parsed. False with the reason in `error`.
bool ReadTargets(const TgtAdm& adm, std::vector<TgtTargetState>& targets, std::string& error);

struct ApplyOutcome {
    bool ok = true;
    std::vector<std::string> failures;  // one text per failed request
    size_t done = 0;                    // requests that succeeded
};

struct ApplyOptions {
    // tgtadm runs at once. tgtd serves its requests one after the other, but
    // the start of a tgtadm process (most of a request's time) overlaps.
    size_t workers = 1;
    // End at the first failure: nothing more is started.
    bool stopAtFirst = false;
    // Told of every request of the plan once, in the order they end (never
    // two at once): `done` when tgtd carried it out, false when it failed or
    // was skipped.
    std::function<void(const TgtCommand& command, bool done)> ended;
};

// Runs `plan`, whose requests that take access away all come before those
// that grant it (as PlanChanges makes them). The first are run before any of
// the second. Of the second, a target's creation comes before the rest of
// its requests, a LUN's identity after the LUN, and the target's rule after
// all its LUNs; requests on different targets or LUNs run side by side when
// `workers` allows. A failure skips the rest of its LUN's requests and the
// target's rule (its host never sees it without all its LUNs), and a failed
// target creation every request on that tid (it may be somebody else's
// target by now). A target or LUN that tgtd calls still active has
// its sessions closed and its deletion retried for a short while. With one
// worker the requests run exactly in plan order.
ApplyOutcome ApplyPlan(const TgtAdm& adm, const std::vector<TgtCommand>& plan, const ApplyOptions& options);

inline ApplyOutcome ApplyPlan(const TgtAdm& adm, const std::vector<TgtCommand>& plan, bool stopAtFirst) {
    ApplyOptions options;
    options.stopAtFirst = stopAtFirst;
    return ApplyPlan(adm, plan, options);
}

}  // namespace zoscsi::tgt
