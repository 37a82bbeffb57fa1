// Where ids land in a table: structured ids spread like random ones, benign
// ids never switch a table, and ids crafted against the hash switch it to the
// ordered mode, which keeps every operation at O(log n).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bytes/byte_layout.hpp"
#include "common/portable.hpp"
#include "common/uuid.hpp"
#include "diff/flat_table_ctrl.hpp"
#include "diff/hash_containers.hpp"
#include "diff/id_hash.hpp"
#include "diff_text.hpp"

namespace tavro {
namespace {

// The diff's table of ids, counting key comparisons.
std::uint64_t g_comparisons = 0;
template <class Compare>
struct Counting {
    bool operator()(const Uuid& a, const Uuid& b) const noexcept {
        ++g_comparisons;
        return Compare{}(a, b);
    }
};
using IdSet = FlatSet<Uuid, KeyHash<Uuid>, Counting<std::equal_to<>>, Counting<KeyOrder<Uuid>>>;

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
    g_comparisons = 0;
    for (const Uuid& id : ids) {
        set.insert(id);
    }
    EXPECT_TRUE(set.is_ordered());
    // Without the switch: about n * n / 2 = 2,000,000.
    EXPECT_LT(static_cast<double>(g_comparisons), 4.0 * n * std::log2(n));
    EXPECT_EQ(set.size(), n);
    // The walk is in byte order, and every id is found.
    std::vector<Uuid> walked(set.begin(), set.end());
    EXPECT_TRUE(std::is_sorted(walked.begin(), walked.end(), [](const Uuid& a, const Uuid& b) {
        return std::memcmp(a.bytes.data(), b.bytes.data(), 16) < 0;
    }));
    for (const Uuid& id : ids) {
        ASSERT_TRUE(set.contains(id));
    }
    // The byte reader fills the same tables: the ids as deleted nodes (the
    // reader reserves the same capacity for them) read back in the ordered mode.
    Diff deleted;
    for (const Uuid& id : ids) {
        deleted.delete_node(id);
    }
    const std::optional<Diff> read = bytes_to_graph_diff(testing::to_bytes(deleted));
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->deleted_nodes.is_ordered());
    EXPECT_EQ(read->deleted_nodes.size(), n);
}

// Benign ids: key sets that a weak hash would cluster (counters at either end
// in either byte order, time-ordered ids, ids one byte apart, halves equal to
// a key) spread over home positions like random ids (at 0.75 ids per bucket
// the share of empty buckets is e^-0.75, and no bucket is crowded), and a
// table of them filled to 7/8, where probes are longest, never switches.
TEST(TableFlood, BenignIdsSpreadLikeRandomOnesAndStayFlat) {
    std::mt19937_64 rng(3);
    for (const std::size_t n : {100'000u, 1'000'000u}) {
        for (int kind = 0; kind < 7; ++kind) {
            HashSet<Uuid> set;
            set.reserve(n);
            const std::size_t buckets = n + n / 3 + 1;
            std::vector<std::uint32_t> load(buckets, 0);
            for (std::uint64_t i = 0; i < n; ++i) {
                const std::uint64_t halves[7][2] = {
                    {rng(), rng()},
                    {0, portable::byte_swap(i)},
                    {i, 0},
                    {id_hash_detail::kKey0, i << 20},
                    {~0ULL, i * 0x9e37},
                    {(0x018f3a2b4c5dULL + i / 16) << 16 | 0x7000 | i % 16, 1ULL << 63 | rng() >> 2},
                    {0x0123456789abcdefULL ^ (i % 255 + 1) << (8 * (i / 255 % 8)), i / 2040}};
                std::uint8_t bytes[16];
                byte_layout::store(bytes, halves[kind][0]);
                byte_layout::store(bytes + 8, halves[kind][1]);
                const Uuid id = Uuid::from_bytes(bytes);
                set.insert(id);
                ++load[flat_table_detail::home_of(hash_id(id), buckets)];
            }
            EXPECT_FALSE(set.is_ordered()) << kind << " at " << n;
            const auto empty = static_cast<double>(std::count(load.begin(), load.end(), 0u));
            EXPECT_NEAR(empty / static_cast<double>(buckets), std::exp(-0.75), 0.02) << kind;
            EXPECT_LE(*std::max_element(load.begin(), load.end()), 12u) << kind;
        }
    }
}

}  // namespace
}  // namespace tavro
