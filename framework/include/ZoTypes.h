// Basic types shared by the host framework's public headers.
#pragma once

#include <cstdint>

// Unsigned 32-bit, as the host framework uses it in its signatures.
typedef uint32_t ULONG;

// Protocol header that a receive can hand back besides the message. The
// stand-in transport carries none, so a receive that asks for it gets it
// zeroed.
struct zosHostProtocolHeader {
    uint32_t version;
    uint32_t flags;
    uint64_t sequence;
};
