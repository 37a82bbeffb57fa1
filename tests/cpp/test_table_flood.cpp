#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "common/uuid.hpp"
#include "diff/hash_containers.hpp"

namespace tavro {
namespace {

struct Counts {
    static inline std::uint64_t comparisons = 0;
};
struct CountingEq {
    bool operator()(const Uuid& a, const Uuid& b) const noexcept {
        ++Counts::comparisons;
        return a == b;
    }
};
struct CountingOrder {
    bool operator()(const Uuid& a, const Uuid& b) const noexcept {
        ++Counts::comparisons;
        return KeyOrder<Uuid>{}(a, b);
    }
};
// The diff's table of ids, counting key comparisons.
using IdSet = FlatSet<Uuid, KeyHash<Uuid>, CountingEq, CountingOrder>;

Uuid random_id(std::mt19937_64& rng) {
    const std::uint64_t halves[2] = {rng(), rng()};
    return Uuid::from_bytes(halves);
}

// What an attacker reading the source makes: ids whose home lies in the
// first 16 windows of a table of `capacity` slots and whose control byte
// is the same, so every probe compares against every id before it.
std::vector<Uuid> crafted_ids(std::size_t count, std::size_t capacity) {
    std::mt19937_64 rng(7);
    std::vector<Uuid> ids;
    while (ids.size() < count) {
        const Uuid id = random_id(rng);
        const std::uint64_t hash = hash_id(id);
        if (flat_table_detail::home_of(hash, capacity) < 256 &&
            flat_table_detail::h2_of(hash) == 5) {
            ids.push_back(id);
        }
    }
    return ids;
}

TEST(TableFlood, CraftedIdsSwitchToTheOrderedModeAndStayNLogN) {
    const std::size_t n = 2000;
    IdSet set;
    set.reserve(n);
    const std::vector<Uuid> ids = crafted_ids(n, set.capacity());
    Counts::comparisons = 0;
    for (const Uuid& id : ids) {
        set.insert(id);
    }
    EXPECT_TRUE(set.is_ordered());
    // Without the switch: about n * n / 2 = 2,000,000.
    EXPECT_LT(static_cast<double>(Counts::comparisons), 4.0 * n * std::log2(n));
    EXPECT_EQ(set.size(), n);
    // The walk is in byte order, and every id is found.
    std::vector<Uuid> walked(set.begin(), set.end());
    EXPECT_TRUE(std::is_sorted(walked.begin(), walked.end(), KeyOrder<Uuid>{}));
    for (const Uuid& id : ids) {
        ASSERT_TRUE(set.contains(id));
    }
    // Erasing seven ids in eight during a walk thins the tree until it is
    // rebuilt; the walk goes on from the iterator erase returns.
    std::vector<Uuid> kept;
    std::size_t i = 0;
    for (auto it = set.begin(); it != set.end(); ++i) {
        kept.insert(kept.end(), i % 8 == 0 ? 1 : 0, *it);
        it = i % 8 == 0 ? std::next(it) : set.erase(it);
    }
    EXPECT_EQ(std::vector<Uuid>(set.begin(), set.end()), kept);
    set.clear();
    set.insert(ids[0]);
    EXPECT_FALSE(set.is_ordered()) << "clear() makes the table flat again";
}

// Benign key sets never switch, at sizes where their longest probes peak.
TEST(TableFlood, NormalIdsStayFlat) {
    std::mt19937_64 rng(3);
    const Uuid base = random_id(rng);
    const std::function<Uuid(std::uint64_t)> key_sets[] = {
        [&](std::uint64_t) { return random_id(rng); },
        [](std::uint64_t i) {  // counter, big-endian in the last bytes
            Uuid id;
            for (int b = 0; b < 8; ++b) {
                id.bytes[static_cast<std::size_t>(15 - b)] =
                    static_cast<std::uint8_t>(i >> (8 * b));
            }
            return id;
        },
        [&](std::uint64_t i) {  // time-ordered: 48-bit milliseconds, version 7, random tail
            const std::uint64_t halves[2] = {(0x018f3a2b4c5dULL + i / 16) << 16 | 0x7000 | i % 16,
                                             0x8000000000000000ULL | rng() >> 2};
            return Uuid::from_bytes(halves);
        },
        [&](std::uint64_t i) {  // one byte away from one base id, then the next base
            Uuid id = base;
            id.bytes[i % 16] = static_cast<std::uint8_t>(id.bytes[i % 16] + 1 + i / 16 % 255);
            id.bytes[(i / 4080 + 1) % 16] ^= static_cast<std::uint8_t>(i / 4080 * 0x9d);
            return id;
        },
    };
    for (const std::size_t n : {100'000u, 1'000'000u}) {
        for (const auto& make : key_sets) {
            HashSet<Uuid> set;
            set.reserve(n);  // 7/8 full at the end: probes at their longest
            for (std::uint64_t i = 0; i < n; ++i) {
                set.insert(make(i));
            }
            EXPECT_FALSE(set.is_ordered()) << n;
        }
    }
}

}  // namespace
}  // namespace tavro
