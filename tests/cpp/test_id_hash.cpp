#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "diff/flat_table_ctrl.hpp"
#include "diff/id_hash.hpp"
#include "diff/uuid.hpp"

namespace tavro {
namespace {

using flat_table_detail::h2_of;
using flat_table_detail::home_of;

Uuid from_halves(std::uint64_t first, std::uint64_t second) {
    const std::uint64_t halves[2] = {first, second};
    return Uuid::from_bytes(halves);
}

void put_big_endian(Uuid& id, std::size_t offset, std::size_t width, std::uint64_t value) {
    for (std::size_t i = 0; i < width; ++i) {
        id.bytes[offset + width - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Key sets that a weak hash would cluster, and random ids to compare with.
struct KeySet {
    std::string name;
    std::vector<Uuid> ids;
};

std::vector<KeySet> key_sets(std::size_t count) {
    std::mt19937_64 rng(99);
    std::vector<KeySet> sets;
    auto make = [&](const char* name, const std::function<Uuid(std::uint64_t)>& id_at) {
        KeySet set{name, {}};
        set.ids.reserve(count);
        for (std::uint64_t i = 0; i < count; ++i) {
            set.ids.push_back(id_at(i));
        }
        sets.push_back(std::move(set));
    };
    make("random", [&](std::uint64_t) { return from_halves(rng(), rng()); });
    make("counter in last bytes", [](std::uint64_t i) {
        Uuid id;
        put_big_endian(id, 8, 8, i);
        return id;
    });
    make("counter in first bytes", [](std::uint64_t i) {
        Uuid id;
        put_big_endian(id, 0, 8, i);
        return id;
    });
    make("little-endian counter", [](std::uint64_t i) { return from_halves(i, 0); });
    make("counter times 2^20", [](std::uint64_t i) { return from_halves(0, i << 20); });
    // Time-ordered ids: 48-bit millisecond stamp, version 7, a per-millisecond
    // sequence, the variant bits, then random bits or none.
    for (const bool random_tail : {true, false}) {
        make(random_tail ? "time-ordered, random tail" : "time-ordered, zero tail",
             [&, random_tail](std::uint64_t i) {
                 Uuid id;
                 put_big_endian(id, 0, 6, 0x018f3a2b4c5dULL + i / 16);
                 const std::uint64_t sequence = i % 16;
                 id.bytes[6] = static_cast<std::uint8_t>(0x70 | (sequence >> 8));
                 id.bytes[7] = static_cast<std::uint8_t>(sequence);
                 const std::uint64_t tail = random_tail ? rng() : 0;
                 id.bytes[8] = static_cast<std::uint8_t>(0x80 | (tail & 0x3f));
                 put_big_endian(id, 9, 7, tail >> 8);
                 return id;
             });
    }
    // Every id that differs from a base id in one byte (16 x 255 of them),
    // for as many base ids as it takes.
    Uuid base;
    make("one byte differs", [&](std::uint64_t i) {
        const std::uint64_t variant = i % (16 * 255);
        if (variant == 0) {
            base = from_halves(rng(), rng());
        }
        Uuid id = base;
        const std::size_t position = variant / 255;
        id.bytes[position] = static_cast<std::uint8_t>(id.bytes[position] + 1 + variant % 255);
        return id;
    });
    return sets;
}

struct Spread {
    double empty_fraction;     // buckets left empty with as many keys as buckets
    std::size_t fullest;       // most keys in one bucket
    double h2_chi_square;      // control-byte bits against uniform, 127 degrees of freedom
    double mean_displacement;  // linear probing at the table's highest load
};

Spread spread_of(const std::vector<Uuid>& ids) {
    Spread spread{};
    // A capacity that is not a power of two, as the table uses.
    const std::size_t buckets = ids.size() + ids.size() / 3 + 1;
    std::vector<std::uint32_t> load(buckets, 0);
    std::vector<double> h2_counts(128, 0.0);
    for (const Uuid& id : ids) {
        const std::uint64_t hash = hash_id(id);
        ++load[home_of(hash, buckets)];
        ++h2_counts[static_cast<std::size_t>(h2_of(hash))];
    }
    const auto empty = static_cast<double>(std::count(load.begin(), load.end(), 0u));
    spread.empty_fraction = empty / static_cast<double>(buckets);
    spread.fullest = *std::max_element(load.begin(), load.end());
    const double expected = static_cast<double>(ids.size()) / 128.0;
    for (double observed : h2_counts) {
        spread.h2_chi_square += (observed - expected) * (observed - expected) / expected;
    }
    // Place the keys at 7/8 load, each in the first free slot from its home.
    const std::size_t capacity = ids.size() * 8 / 7 + 1;
    std::vector<bool> used(capacity, false);
    double displacement = 0.0;
    for (const Uuid& id : ids) {
        std::size_t slot = home_of(hash_id(id), capacity);
        std::size_t distance = 0;
        while (used[slot]) {
            slot = slot + 1 == capacity ? 0 : slot + 1;
            ++distance;
        }
        used[slot] = true;
        displacement += static_cast<double>(distance);
    }
    spread.mean_displacement = displacement / static_cast<double>(ids.size());
    return spread;
}

TEST(IdHashSpread, StructuredKeySetsSpreadLikeRandomIds) {
    const std::size_t count = 1 << 16;
    const std::vector<KeySet> sets = key_sets(count);
    const Spread random = spread_of(sets.front().ids);
    // Keys per bucket = 0.75: about e^-0.75 = 47% of the buckets stay empty.
    const double expected_empty =
        std::exp(-static_cast<double>(count) / static_cast<double>(count + count / 3 + 1));
    EXPECT_NEAR(random.empty_fraction, expected_empty, 0.01);
    for (const KeySet& set : sets) {
        const Spread spread = spread_of(set.ids);
        EXPECT_NEAR(spread.empty_fraction, expected_empty, 0.02) << set.name;
        EXPECT_LE(spread.fullest, 12u) << set.name;
        EXPECT_LT(spread.h2_chi_square, 250.0) << set.name;
        EXPECT_LT(spread.mean_displacement, 2.0 * random.mean_displacement + 1.0) << set.name;
    }
}

TEST(IdHashSpread, NoFullCollisionsAmongStructuredKeys) {
    for (const KeySet& set : key_sets(1 << 17)) {
        std::vector<std::uint64_t> hashes;
        std::vector<Uuid> ids = set.ids;
        for (const Uuid& id : ids) {
            hashes.push_back(hash_id(id));
        }
        std::sort(hashes.begin(), hashes.end());
        std::sort(ids.begin(), ids.end(), [](const Uuid& a, const Uuid& b) {
            return std::memcmp(a.bytes.data(), b.bytes.data(), 16) < 0;
        });
        const auto distinct_ids = std::unique(ids.begin(), ids.end()) - ids.begin();
        const auto distinct_hashes = std::unique(hashes.begin(), hashes.end()) - hashes.begin();
        EXPECT_EQ(distinct_hashes, distinct_ids) << set.name;
    }
}

TEST(IdHashMixing, EveryInputBitFlipsAboutHalfTheOutputBits) {
    std::mt19937_64 rng(3);
    const int samples = 2000;
    for (std::size_t bit = 0; bit < 128; ++bit) {
        double flipped = 0;
        for (int s = 0; s < samples; ++s) {
            Uuid id = from_halves(rng(), rng());
            const std::uint64_t before = hash_id(id);
            id.bytes[bit / 8] = static_cast<std::uint8_t>(id.bytes[bit / 8] ^ (1u << (bit % 8)));
            flipped += std::popcount(before ^ hash_id(id));
        }
        EXPECT_NEAR(flipped / samples, 32.0, 3.0) << "input bit " << bit;
    }
}

TEST(IdHashMixing, NoHalfValueCollapsesTheOtherHalf) {
    // Whatever one half holds (zero, all ones, or a value that would cancel a
    // key), ids that differ in the other half keep distinct hashes.
    const std::uint64_t special[] = {0, ~0ULL, id_hash_detail::kKey0, id_hash_detail::kKey2};
    for (std::uint64_t fixed : special) {
        for (bool fixed_first : {true, false}) {
            std::vector<std::uint64_t> hashes;
            for (std::uint64_t other = 0; other < 4096; ++other) {
                hashes.push_back(hash_id(fixed_first ? from_halves(fixed, other * 0x9e37)
                                                     : from_halves(other * 0x9e37, fixed)));
            }
            std::sort(hashes.begin(), hashes.end());
            EXPECT_EQ(std::unique(hashes.begin(), hashes.end()), hashes.end())
                << std::hex << fixed << (fixed_first ? " first" : " second");
        }
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
