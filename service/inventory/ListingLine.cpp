#include "inventory/ListingLine.h"

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

}  // namespace zoscsi
