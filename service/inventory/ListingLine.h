// ListingLine: one line of a LUN listing, "target#host#lun#creation-epoch",
// with "-" as the host of an unmapped LUN and the LUN id in decimal.
#pragma once

#include <cstdint>
#include <string>

namespace zoscsi {

// An empty `host` means unmapped. Names are validated before they are stored,
// so none of them holds '#' or a line break.
std::string ListingLine(const std::string& target, const std::string& host, int64_t lun, int64_t created);

}  // namespace zoscsi
