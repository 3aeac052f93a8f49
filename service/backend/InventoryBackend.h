// InventoryBackend: records only. The inventory is all there is; nothing is
// exported on a fabric. The embedded default, needs no privileges.
#pragma once

#include "backend/Backend.h"

#include <memory>
#include <string>

namespace zoscsi {

std::unique_ptr<Backend> MakeInventoryBackend(const BackendContext& context, std::string& error);

}  // namespace zoscsi
