// Bounds on what a peer can make us decode.
#pragma once

#include <cstddef>

namespace zo {

struct DecodeLimits {
    size_t maxFrameBytes = 64u << 20;   // payload of one frame: the largest listing answer fits (docs/SERVICE.md)
    unsigned maxDepth = 16;             // nesting of objects (at most 256 whatever is set)
    size_t maxFields = 1u << 20;        // fields and list elements in one message, all levels
};

}  // namespace zo
