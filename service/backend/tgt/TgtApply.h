// TgtApply: reads tgtd's state and carries a plan (TgtPlan.h) out on it.
#pragma once

#include "backend/tgt/TgtAdm.h"
#include "backend/tgt/TgtShow.h"

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

// Runs `plan` in order. With `stopAtFirst` it ends at the first failure;
// otherwise it goes on, skipping only the requests on a target whose
// creation failed (its tid may be somebody else's by now). A target or LUN
// that tgtd calls still active has its sessions closed and its deletion
// retried for a short while.
ApplyOutcome ApplyPlan(const TgtAdm& adm, const std::vector<TgtCommand>& plan, bool stopAtFirst);

}  // namespace zoscsi::tgt
