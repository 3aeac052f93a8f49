// The private detail behind a CYbError, shared by all its copies.
#pragma once

#include "CYbError.h"

#include <string>
#include <vector>

struct FXErrorPrivate {
    unsigned int code = 0;
    FXErrorSpace space = FXErrorSpace::Host;
    std::string message;
    std::vector<FXTrailFrame> trail;  // oldest first
    bool hasPeerStatus = false;
    int32_t peerNumber = 0;
    std::string peerText;
};
