#include "inventory/ListingLine.h"

#include "zo/Limits.h"
#include "zo/XmlCodec.h"

namespace zoscsi {

std::string ListingLine(const std::string& target, const std::string& host, int64_t lun, int64_t created) {
    std::string line;
    line.reserve(target.size() + host.size() + 32);
    line += target;
    line += '#';
    line += host.empty() ? std::string("-") : host;
    line += '#';
    line += std::to_string(lun);
    line += '#';
    line += std::to_string(created);
    return line;
}

std::string DetailLine(const LunRecord& lun, const std::string& host, const std::string& exportedAt) {
    std::string line = ListingLine(lun.target, host, lun.id, lun.created);
    line += '#';
    line += std::to_string(lun.sizeBytes);
    line += lun.open ? "#open#" : "#closed#";
    line += exportedAt.empty() ? std::string("-") : exportedAt;
    return line;
}

ListingSize ListingSize::Of(const std::string& line) {
    return {1, static_cast<int64_t>(zo::EncodedListItemBytes(line))};
}

ListingLimits ListingLimitsFor(size_t frameBytes) {
    const size_t bytes = frameBytes > kListingReserveBytes ? frameBytes - kListingReserveBytes : 0;
    return {kMaxListingLines, static_cast<int64_t>(bytes)};
}

ListingLimits DefaultListingLimits() { return ListingLimitsFor(zo::DecodeLimits().maxFrameBytes); }

}  // namespace zoscsi
