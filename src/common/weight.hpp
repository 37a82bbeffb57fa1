// An edge weight: a 32-bit IEEE 754 float kept as its bit pattern. A float is
// made only where one is needed (from a Python number, for a listing); in
// between, the weight is copied as an integer so that every bit survives on
// every host. Copying a float through an x87 FPU (32-bit x86 without SSE2)
// turns a signalling NaN quiet, and the byte form gives back the bits it read.
#pragma once

#include <bit>
#include <cstdint>

namespace tavro {

struct Weight {
    std::uint32_t bits = 0;

    static Weight of(float value) noexcept { return Weight{std::bit_cast<std::uint32_t>(value)}; }
    float value() const noexcept { return std::bit_cast<float>(bits); }

    friend bool operator==(const Weight&, const Weight&) = default;
};

}  // namespace tavro
