// TgtBackend: the "tgt" backend. Makes the inventory real in tgtd, so that
// an iSCSI initiator sees exactly the LUNs mapped to it (TgtLayout.h has the
// scheme, docs/SERVICE.md "tgt backend" the settings).
//
// Every change is made by comparing what tgtd shows with the layout of the
// inventory after the change and running the difference (TgtPlan.h); when a
// request fails, tgtd is brought back to the layout from before and the call
// fails with tgtadm's message. LUN data lives in DATA/luns/TARGET/ID.img.
#pragma once

#include "backend/Backend.h"
#include "backend/tgt/TgtCeiling.h"
#include "backend/tgt/TgtConfig.h"

#include <memory>
#include <string>

namespace zoscsi {

// The factory's maker: reads the Tgt* keys through `context.setting`.
std::unique_ptr<Backend> MakeTgtBackend(const BackendContext& context, std::string& error);

namespace tgt {
// For tests: a backend with a configuration and the machine's limits already made.
std::unique_ptr<Backend> MakeTgtBackendWith(const TgtConfig& config, const std::string& clientName,
                                            const std::string& dataDir,
                                            const MachineLimits& limits = ReadMachineLimits());
}  // namespace tgt

}  // namespace zoscsi
