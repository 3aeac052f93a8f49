// TgtPlan: the tgtadm requests that take tgtd from what it holds to a
// layout. Pure.
//
// Only targets this instance owns (TgtLayout.h) are touched. Every request
// that takes access away (a target no longer wanted, a LUN leaving a
// target, a target whose rules are not exactly its host) comes before any
// request that grants access; a new target gets its LUNs and their identity
// before its one initiator rule, so a host never sees it half-made. A target
// holding any rule besides its host's name is deleted and made again (tgtd's
// list does not tell address rules from name rules).
#pragma once

#include "backend/tgt/TgtAdm.h"
#include "backend/tgt/TgtLayout.h"
#include "backend/tgt/TgtModel.h"
#include "backend/tgt/TgtShow.h"

#include <vector>

namespace zoscsi::tgt {

// `actual`: the targets to bring to `desired` (those of the name space
// that are not in `desired` are deleted); new targets take the lowest tids
// free in `tids` (a copy: the caller's pool is left as it was).
std::vector<TgtCommand> PlanChanges(const LayoutNames& names, const std::vector<TgtTargetState>& actual,
                                    const Layout& desired, TidPool tids);
// The same with the tids of `actual` alone in use.
std::vector<TgtCommand> PlanChanges(const LayoutNames& names, const std::vector<TgtTargetState>& actual,
                                    const Layout& desired);

}  // namespace zoscsi::tgt
