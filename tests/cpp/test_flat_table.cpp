#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "allocations.hpp"
#include "common/uuid.hpp"
#include "diff/flat_table_map.hpp"
#include "diff/hash_containers.hpp"
#include "table_history.hpp"

namespace tavro {
namespace {

// Flooding never detected: the flat mode under any load.
struct NeverFlood : flat_table_detail::FloodLimits {
    static constexpr std::uint32_t kMaxWindows = UINT32_MAX - 1;
    static constexpr std::uint32_t kLongWindows = UINT32_MAX - 1;
};

// Narrow tree nodes: a few thousand keys make a tree five levels deep.
struct NarrowTree : flat_table_detail::FloodLimits {
    static constexpr std::size_t kTreeNodeBytes = 128;
};

using testing::PickedHash;
template <class Limits = flat_table_detail::FloodLimits>
using Map = FlatMap<std::uint64_t, std::string, PickedHash, std::equal_to<>, std::less<>, Limits>;

// A random history of every operation the diff uses agrees with std::map. The
// keys of the second half come from a smaller pool, so the table grows, then
// churns and shrinks.
template <class Table>
void check_history(std::uint64_t seed, std::uint64_t hash_values) {
    std::mt19937_64 rng(seed);
    std::vector<std::uint8_t> bytes(3 * 60000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = i % 3 == 2 && i > bytes.size() / 2 ? 0 : static_cast<std::uint8_t>(rng());
    }
    Table table(PickedHash{hash_values});
    EXPECT_EQ(testing::run_history(bytes, 3000, table), "");
}

// Contents agree with std::map in the flat mode (mixing hash; few values,
// so tombstones sit in shared probe chains) and across the switch to the
// ordered mode (few values with detection on).
TEST(FlatTable, RandomHistoriesAgreeWithStdMapAndRepeatTheirWalkOrder) {
    for (std::uint64_t seed = 1; seed <= 2; ++seed) {
        check_history<Map<>>(seed, 0);
        check_history<Map<NeverFlood>>(seed, 3);
        check_history<Map<NarrowTree>>(seed, 3);
    }
}

// The insert that trips the switch to the ordered mode builds its entry from
// an entry of the same table, which the switch moves. An ordered table that
// then loses most of its entries is rebuilt packed (the tree never merges
// nodes): its blocks stay within a constant factor of its entries.
TEST(FlatTable, TheSwitchMayCopyAnEntryOfTheTableAndAShrunkTreeIsRebuiltPacked) {
    const long before = g_live_blocks;
    Map<NarrowTree> map(PickedHash{1});  // one home for every key
    const std::string value(40, 'v');
    map.try_emplace(0, value);
    for (std::uint64_t k = 1; k < 20000; ++k) {
        if (map.is_ordered()) {
            map.try_emplace(k);
        } else {
            ASSERT_EQ(map.try_emplace(k, map.find(0)->second).first->second, value);
        }
    }
    ASSERT_TRUE(map.is_ordered());
    const long full = g_live_blocks - before;
    for (std::uint64_t k = 0; k < 20000; ++k) {
        if (k % 20 != 0) {
            map.erase(k);
        }
    }
    EXPECT_LT(g_live_blocks - before, full / 8) << full;
}

// A reserve whose new block the entries flood (their homes there all lie in
// one window, though not in the blocks before) puts back every entry it
// moved, and the table goes on in the ordered mode with all of them.
TEST(FlatTable, AReserveThatFloodsItsNewBlockKeepsEveryEntry) {
    FlatMap<std::uint64_t, std::string, std::identity> map, sizing;  // the key is its hash
    sizing.reserve(5000);
    std::map<std::uint64_t, std::string> reference;
    std::mt19937_64 random(9);
    while (reference.size() < 400) {
        const std::uint64_t key = random() << 7;  // control byte 0
        if (flat_table_detail::home_of(key, sizing.capacity()) < 16) {
            map.try_emplace(key, std::to_string(key));
            reference.try_emplace(key, std::to_string(key));
        }
    }
    ASSERT_FALSE(map.is_ordered());
    map.reserve(5000);
    EXPECT_TRUE(map.is_ordered());
    const std::map<std::uint64_t, std::string> walked(map.begin(), map.end());
    EXPECT_EQ(walked, reference);
}

// Insert one key and erase the oldest, at a steady size: an erase must leave
// a tombstone only where a probe may have passed, or the table rehashes over
// and over (each rehash moves every entry).
TEST(FlatTable, ChurnAtSteadySizeRarelyRehashes) {
    FlatSet<std::uint64_t, PickedHash> set;
    set.insert(UINT64_MAX);  // stays; its address moves on every rehash
    for (std::uint64_t k = 0; k < 1000; ++k) {
        set.insert(k);
    }
    int rehashes = 0;
    const std::uint64_t* resident = &*set.find(UINT64_MAX);
    for (std::uint64_t k = 1000; k < 200000; ++k) {
        set.insert(k);
        ASSERT_EQ(set.erase(k - 1000), 1u);
        rehashes += std::exchange(resident, &*set.find(UINT64_MAX)) != resident ? 1 : 0;
    }
    EXPECT_LT(rehashes, 40);  // 31 here; 121 if every erase left a tombstone
    EXPECT_FALSE(set.is_ordered());
}

// The diff's memory budget: a container object is one pointer, an empty table
// owns no block, ten pending edges of one source (20-byte entries) fit the
// 232 bytes of a 240-byte allocator chunk (16-byte header, a control byte and
// an entry per slot) after at most three reallocations, and small tables fill
// every slot before growing.
TEST(FlatTable, SmallTablesStayWithinTheMemoryBudget) {
    HashMap<Uuid, float> edges;
    EXPECT_EQ(sizeof(edges), sizeof(void*));
    EXPECT_EQ(sizeof(HashSet<Uuid>), sizeof(void*));
    edges.reserve(0);
    EXPECT_EQ(edges.capacity(), 0u);
    int reallocations = -1;
    for (std::uint8_t n = 0; n < 10; ++n) {
        Uuid id;
        id.bytes[3] = n;
        const std::size_t before = edges.capacity();
        edges.insert_or_assign(id, 1.0f);
        reallocations += edges.capacity() != before ? 1 : 0;
    }
    EXPECT_LE(16 + edges.capacity() * (1 + sizeof(std::pair<const Uuid, float>)), 232u);
    EXPECT_LE(reallocations, 3);
    FlatSet<std::uint64_t, PickedHash> set;
    for (std::uint64_t k = 0; set.capacity() <= 16; ++k) {
        const std::size_t before = set.capacity();
        ASSERT_TRUE(set.insert(k).second);
        if (set.capacity() != before) {
            EXPECT_EQ(set.size() - 1, before) << "grew while slots were free";
        }
    }
}

}  // namespace
}  // namespace tavro
