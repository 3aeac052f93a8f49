// ListingLine: one line of a LUN listing, "target#host#lun#creation-epoch",
// with "-" as the host of an unmapped LUN and the LUN id in decimal; and the
// size such lines take in an answer, which the inventory keeps within the
// answer frame (docs/SERVICE.md "Listing limits").
#pragma once

#include "backend/Backend.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zoscsi {

// An empty `host` means unmapped. Names are validated before they are stored,
// so none of them holds '#' or a line break.
std::string ListingLine(const std::string& target, const std::string& host, int64_t lun, int64_t created);

// A line of the detailed listing: the listing line's four fields, then the
// size in bytes, "open" or "closed", and where the backend exports the LUN to
// that host (`exportedAt`; "-" when empty):
//   target#host#lun#creation-epoch#size#state#export
std::string DetailLine(const LunRecord& lun, const std::string& host, const std::string& exportedAt);

// Lines of a listing and the bytes they take as elements of the answer's
// string list (markup and XML escaping included).
struct ListingSize {
    int64_t lines = 0;
    int64_t bytes = 0;

    static ListingSize Of(const std::string& line);
    ListingSize& operator+=(const ListingSize& other) {
        lines += other.lines;
        bytes += other.bytes;
        return *this;
    }
    ListingSize operator-() const { return {-lines, -bytes}; }
};

// What the full listing (every LUN and mapping) may take, so that it, and
// with it every filtered listing, fits in one answer.
struct ListingLimits {
    int64_t maxLines = 0;
    int64_t maxBytes = 0;
};

// Bytes of an answer frame kept for everything around the lines: the
// message, its status object and the list's own markup.
constexpr size_t kListingReserveBytes = 64u << 10;
// 16,383 LUNs of one target each mapped to 16 hosts.
constexpr int64_t kMaxListingLines = 262144;

// The limits for answers of at most `frameBytes`.
ListingLimits ListingLimitsFor(size_t frameBytes);
// The limits for the frame limit of the framework's DecodeLimits, which
// clients receive answers within.
ListingLimits DefaultListingLimits();

}  // namespace zoscsi
