// The launcher's side of an instance's identity (zo/InstanceIdentity.h):
// the recorded settings compared with what this caller's settings give.
#pragma once

#include <string>
#include <vector>

namespace zo {

// True when the instance recorded no identity, or when every recorded
// setting reads the same for this caller (its environment, its configuration
// file) and the program line `argv` is the one the instance was started
// with. Otherwise false, with what the instance serves in `serves` and the
// first difference in words in `difference` (also for an identity file that
// cannot be read: what the instance serves is then unknown).
bool SameIdentity(const std::string& identityPath, const std::vector<std::string>& argv, std::string& serves,
                  std::string& difference);

}  // namespace zo
