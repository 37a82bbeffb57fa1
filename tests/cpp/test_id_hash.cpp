#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/uuid.hpp"
#include "diff/flat_table_ctrl.hpp"
#include "diff/id_hash.hpp"

namespace tavro {
namespace {

using flat_table_detail::h2_of;
using flat_table_detail::home_of;
using id_hash_detail::kKey0;
using id_hash_detail::kKey2;

Uuid from_halves(std::uint64_t first, std::uint64_t second) {
    const std::uint64_t halves[2] = {first, second};
    return Uuid::from_bytes(halves);
}

// `id` with `value` written big-endian into `width` bytes from `offset` on.
Uuid put(Uuid id, std::size_t offset, std::size_t width, std::uint64_t value) {
    for (std::size_t i = 0; i < width; ++i) {
        id.bytes[offset + width - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return id;
}

// Key sets that a weak hash would cluster spread like random ids: the share of
// empty buckets at 0.75 keys per bucket (about e^-0.75 = 47%) and a capacity
// that is not a power of two, as the table uses; the fullest bucket; the
// control-byte bits against uniform; and no full collisions.
TEST(IdHashSpread, StructuredKeySetsSpreadLikeRandomIdsWithoutCollisions) {
    std::mt19937_64 rng(99);
    Uuid base;
    const std::pair<const char*, std::function<Uuid(std::uint64_t)>> key_sets[] = {
        {"random", [&](std::uint64_t) { return from_halves(rng(), rng()); }},
        {"big-endian counter in last bytes", [](std::uint64_t i) { return put(Uuid{}, 8, 8, i); }},
        {"big-endian counter in first bytes", [](std::uint64_t i) { return put(Uuid{}, 0, 8, i); }},
        {"little-endian counter", [](std::uint64_t i) { return from_halves(i, 0); }},
        {"counter times 2^20", [](std::uint64_t i) { return from_halves(0, i << 20); }},
        // One half all ones or cancelling its key, which must not collapse the other.
        {"first half all ones", [](std::uint64_t i) { return from_halves(~0ULL, i * 0x9e37); }},
        {"second half all ones", [](std::uint64_t i) { return from_halves(i * 0x9e37, ~0ULL); }},
        {"first half is key 0", [](std::uint64_t i) { return from_halves(kKey0, i * 0x9e37); }},
        {"second half is key 2", [](std::uint64_t i) { return from_halves(i * 0x9e37, kKey2); }},
        // Time-ordered: 48-bit millisecond stamp, version 7 with a 4-bit
        // sequence, the variant bits, then random bits or none.
        {"time-ordered, random tail",
         [&](std::uint64_t i) {
             return put(put(Uuid{}, 0, 8, (0x018f3a2b4c5dULL + i / 16) << 16 | 0x7000 | i % 16), 8,
                        8, 0x8000000000000000ULL | rng() >> 2);
         }},
        {"time-ordered, zero tail",
         [](std::uint64_t i) {
             return put(put(Uuid{}, 0, 8, (0x018f3a2b4c5dULL + i / 16) << 16 | 0x7000 | i % 16), 8,
                        1, 0x80);
         }},
        // Every id that differs from a base id in one byte (16 x 255 of
        // them), for as many base ids as it takes.
        {"one byte differs",
         [&](std::uint64_t i) {
             const std::uint64_t variant = i % (16 * 255);
             if (variant == 0) {
                 base = from_halves(rng(), rng());
             }
             Uuid id = base;
             id.bytes[variant / 255] =
                 static_cast<std::uint8_t>(id.bytes[variant / 255] + 1 + variant % 255);
             return id;
         }},
    };
    const std::size_t count = 1 << 17;
    const std::size_t buckets = count + count / 3 + 1;
    const double expected_empty =
        std::exp(-static_cast<double>(count) / static_cast<double>(buckets));
    for (const auto& [name, make] : key_sets) {
        std::vector<std::uint32_t> load(buckets, 0);
        std::vector<double> h2_counts(128, 0.0);
        std::vector<std::uint64_t> hashes;
        for (std::uint64_t i = 0; i < count; ++i) {
            hashes.push_back(hash_id(make(i)));
            ++load[home_of(hashes.back(), buckets)];
            ++h2_counts[static_cast<std::size_t>(h2_of(hashes.back()))];
        }
        const auto empty = static_cast<double>(std::count(load.begin(), load.end(), 0u));
        EXPECT_NEAR(empty / static_cast<double>(buckets), expected_empty, 0.02) << name;
        EXPECT_LE(*std::max_element(load.begin(), load.end()), 12u) << name;
        double chi_square = 0.0;  // 127 degrees of freedom
        for (const double observed : h2_counts) {
            chi_square += (observed - count / 128.0) * (observed - count / 128.0) / (count / 128.0);
        }
        EXPECT_LT(chi_square, 250.0) << name;
        std::sort(hashes.begin(), hashes.end());
        EXPECT_EQ(std::unique(hashes.begin(), hashes.end()), hashes.end()) << name;
    }
}

// Mixing quality the key sets do not measure: flipping any one input bit
// flips about half of the 64 output bits.
TEST(IdHashMixing, EveryInputBitFlipsAboutHalfTheOutputBits) {
    std::mt19937_64 rng(3);
    for (std::size_t bit = 0; bit < 128; ++bit) {
        double flipped = 0;
        for (int sample = 0; sample < 2000; ++sample) {
            Uuid id = from_halves(rng(), rng());
            const std::uint64_t before = hash_id(id);
            id.bytes[bit / 8] = static_cast<std::uint8_t>(id.bytes[bit / 8] ^ (1u << (bit % 8)));
            flipped += std::popcount(before ^ hash_id(id));
        }
        EXPECT_NEAR(flipped / 2000, 32.0, 3.0) << "input bit " << bit;
    }
}

TEST(IdHashFixed, SameIdHashesTheSameInEveryRun) {
    // The keys are constants: these values may only change together with a
    // deliberate change of the hash (which changes every walk order).
    EXPECT_EQ(hash_id(Uuid{}), 0x97bcbebd5586d12fULL);
    EXPECT_EQ(hash_id(from_halves(0x0123456789abcdefULL, 0xfedcba9876543210ULL)),
              0x79dea2c18ae23366ULL);
    EXPECT_EQ(KeyHash<Uuid>{}(Uuid{}), hash_id(Uuid{}));
}

}  // namespace
}  // namespace tavro
