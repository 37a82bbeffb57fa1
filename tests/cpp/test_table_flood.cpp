#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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
    set.clear();
    set.insert(ids[0]);
    EXPECT_FALSE(set.is_ordered()) << "clear() makes the table flat again";
}

}  // namespace
}  // namespace tavro
