// Narrowing a 64-bit float to the 32-bit floats the diff stores.
#pragma once

#include <cmath>
#include <limits>

namespace tavro {

// Round to nearest, ties to even. A magnitude that rounds beyond the largest
// finite float becomes an infinity of the same sign (a plain cast would be
// undefined there); NaN stays NaN; tiny values become subnormal or zero.
inline float narrow_to_float(double value) noexcept {
    constexpr double kMax = std::numeric_limits<float>::max();
    // Halfway between the largest float and 2^128: from here on (the tie
    // included, since the largest float has an odd significand) the nearest
    // float is infinity.
    constexpr double kRoundsToInfinity = 0x1.ffffffp127;
    if (std::isfinite(value) && std::fabs(value) > kMax) {
        const float limit = std::fabs(value) >= kRoundsToInfinity
                                ? std::numeric_limits<float>::infinity()
                                : std::numeric_limits<float>::max();
        return std::signbit(value) ? -limit : limit;
    }
    return static_cast<float>(value);
}

}  // namespace tavro
