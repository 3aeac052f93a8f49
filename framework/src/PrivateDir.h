// Internal helpers beside the private folders of zo/PrivateDir.h.
#pragma once

#include "zo/PrivateDir.h"

#include <string>

namespace zo {

// The folder part of a path ("." when it has none).
std::string ParentDir(const std::string& path);

}  // namespace zo
