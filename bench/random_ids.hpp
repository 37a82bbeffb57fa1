// Fixed-seed random ids for the C++ benchmarks, so every run builds the same
// tables.
#pragma once

#include <cstdint>

#include "common/uuid.hpp"

struct SplitMix64 {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
};

inline tavro::Uuid random_id(SplitMix64& rng) {
    const std::uint64_t halves[2] = {rng.next(), rng.next()};
    return tavro::Uuid::from_bytes(halves);
}
