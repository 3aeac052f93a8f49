// Sizes of the heavier tests: the CI figure unless the environment asks for
// more (scripts/stress.sh does), and the seed of their random choices.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

namespace zorel {

// The value of `name` when it is a positive whole number, else `ci`.
inline long Scaled(const char* name, long ci) {
    const char* text = std::getenv(name);
    if (!text || !*text) return ci;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 ? value : ci;
}

// ZO_RELIABILITY_SEED when set, else one from the clock (printed by the
// tests, so a failing run can be repeated).
inline uint32_t Seed() {
    const long fixed = Scaled("ZO_RELIABILITY_SEED", 0);
    return fixed > 0 ? static_cast<uint32_t>(fixed) : static_cast<uint32_t>(std::time(nullptr));
}

}  // namespace zorel
