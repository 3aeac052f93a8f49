// BackendFactory: backends by name.
//
// Each backend offers one maker function; the table in BackendFactory.cpp
// lists them, so adding a backend is one row there.
#pragma once

#include "backend/Backend.h"

#include <memory>
#include <string>
#include <vector>

namespace zoscsi {

// Makes the backend `name` ("inventory", ...). On failure returns null and
// says why in `error` (unknown name, or the backend's own reason).
std::unique_ptr<Backend> MakeBackend(const std::string& name, const BackendContext& context,
                                     std::string& error);

// The names MakeBackend knows, in table order.
std::vector<std::string> BackendNames();

// The [ZoScsiSrv] keys of every backend (whichever is in use): the keys each
// backend's settings loader asks for when none is set.
std::vector<std::string> BackendSettingKeys();

}  // namespace zoscsi
